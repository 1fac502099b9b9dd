// The main dialog's list box seen as the project store's list.
#pragma once

#include "framework/CListBox.h"
#include "project/ProjectList.h"

class ListBoxProjectList : public ProjectList
{
public:
    explicit ListBoxProjectList(CListBox& listBox) : m_listBox(listBox) {}

    void ResetContent() override { m_listBox.ResetContent(); }
    int InsertString(int index, LPCSTR text) override { return m_listBox.InsertString(index, text); }
    int AddString(LPCSTR text) override { return m_listBox.AddString(text); }
    void SetItemData(int index, DWORD_PTR data) override { m_listBox.SetItemData(index, data); }
    DWORD_PTR GetItemData(int index) const override
    {
        LRESULT data = static_cast<LRESULT>(m_listBox.GetItemData(index));
        return data == LB_ERR ? 0 : static_cast<DWORD_PTR>(data);
    }
    int GetCount() const override { return m_listBox.GetCount(); }
    int GetCurSel() const override { return m_listBox.GetCurSel(); }
    void SetCurSel(int index) override { m_listBox.SetCurSel(index); }

private:
    CListBox& m_listBox;
};
