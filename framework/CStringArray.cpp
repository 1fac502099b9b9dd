#include "framework/CStringArray.h"

void CStringArray::SetSize(int newSize, int /*growBy*/)
{
    m_items.resize(newSize > 0 ? static_cast<size_t>(newSize) : 0);
}

void CStringArray::SetAtGrow(int index, const CString& value)
{
    if (index < 0)
        return;
    if (index >= GetSize())
        m_items.resize(static_cast<size_t>(index) + 1);
    m_items[static_cast<size_t>(index)] = value;
}

int CStringArray::Add(const CString& value)
{
    m_items.push_back(value);
    return GetSize() - 1;
}

void CStringArray::RemoveAt(int index, int count)
{
    if (index < 0 || index >= GetSize() || count <= 0)
        return;
    if (count > GetSize() - index)
        count = GetSize() - index;
    m_items.erase(m_items.begin() + index, m_items.begin() + index + count);
}
