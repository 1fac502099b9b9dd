// A growable array of CString.
#pragma once

#include "framework/CString.h"

#include <vector>

class CStringArray
{
public:
    CStringArray() = default;
    virtual ~CStringArray() = default;

    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_items.empty(); }

    // growBy is accepted for compatibility; growth is left to the container.
    void SetSize(int newSize, int growBy = -1);
    void RemoveAll() { m_items.clear(); }

    const CString& GetAt(int index) const { return m_items.at(static_cast<size_t>(index)); }
    CString& ElementAt(int index) { return m_items.at(static_cast<size_t>(index)); }
    void SetAt(int index, const CString& value) { ElementAt(index) = value; }
    const CString& operator[](int index) const { return GetAt(index); }
    CString& operator[](int index) { return ElementAt(index); }

    // Sets element index, growing the array with empty strings as needed.
    void SetAtGrow(int index, const CString& value);
    int Add(const CString& value);
    void RemoveAt(int index, int count = 1);

private:
    std::vector<CString> m_items;
};
