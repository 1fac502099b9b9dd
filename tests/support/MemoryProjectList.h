// The project list in memory, with the list box's rules for the selection; it
// deletes the projects it still holds when it goes.
#pragma once

#include "project/Project.h"
#include "project/ProjectList.h"

#include <string>
#include <vector>

class MemoryProjectList : public ProjectList
{
public:
    ~MemoryProjectList() override
    {
        for (int i = 0; i < GetCount(); i++)
            delete ProjectAt(*this, i);
    }

    void ResetContent() override { m_entries.clear(), m_selected = -1; }
    int InsertString(int index, LPCSTR text) override
    {
        index = index < 0 || index > GetCount() ? GetCount() : index;
        m_entries.insert(m_entries.begin() + index, Entry{text, 0});
        m_selected += m_selected >= index ? 1 : 0;
        return index;
    }
    int AddString(LPCSTR text) override { return InsertString(-1, text); }
    void SetItemData(int index, DWORD_PTR data) override
    {
        if (index >= 0 && index < GetCount())
            m_entries[static_cast<size_t>(index)].data = data;
    }
    DWORD_PTR GetItemData(int index) const override
    {
        return index >= 0 && index < GetCount() ? m_entries[static_cast<size_t>(index)].data : 0;
    }
    int GetCount() const override { return static_cast<int>(m_entries.size()); }
    int GetCurSel() const override { return m_selected; }
    void SetCurSel(int index) override { m_selected = index >= -1 && index < GetCount() ? index : m_selected; }

    Project* At(int index) const { return ProjectAt(*this, index); }
    std::string Text(int index) const { return m_entries.at(static_cast<size_t>(index)).text; }

private:
    struct Entry
    {
        std::string text;
        DWORD_PTR data;
    };
    std::vector<Entry> m_entries;
    int m_selected = -1;
};
