#include "framework/CMemFile.h"

#include <cstring>

CMemFile::CMemFile(const void* data, size_t size)
    : m_data(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size)
{}

UINT CMemFile::Read(void* buffer, UINT count)
{
    size_t available = m_data.size() - m_position;
    size_t n = count < available ? count : available;
    if (n > 0)
        std::memcpy(buffer, m_data.data() + m_position, n);
    m_position += n;
    return static_cast<UINT>(n);
}

void CMemFile::Write(const void* buffer, UINT count)
{
    if (count == 0)
        return;
    if (m_position + count > m_data.size())
        m_data.resize(m_position + count);
    std::memcpy(m_data.data() + m_position, buffer, count);
    m_position += count;
}
