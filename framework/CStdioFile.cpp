#include "framework/CStdioFile.h"

#include <cstring>

CStdioFile::~CStdioFile()
{
    try {
        Flush();
    } catch (CException& e) {
        e.Delete();
    } catch (...) {
    }
}

BOOL CStdioFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error)
{
    m_pending.clear();
    m_textMode = (openFlags & typeBinary) == 0;
    return CFile::Open(fileName, openFlags & ~static_cast<UINT>(typeText | typeBinary), error);
}

void CStdioFile::Append(const char* bytes, size_t count)
{
    m_pending.append(bytes, count);
    if (m_pending.size() >= kBufferSize)
        Flush();
}

void CStdioFile::Write(const void* buffer, UINT count)
{
    const char* bytes = static_cast<const char*>(buffer);
    if (!m_textMode) {
        Append(bytes, count);
        return;
    }
    const char* end = bytes + count;
    while (bytes < end) {
        const char* lineFeed = static_cast<const char*>(std::memchr(bytes, '\n', static_cast<size_t>(end - bytes)));
        if (!lineFeed) {
            Append(bytes, static_cast<size_t>(end - bytes));
            break;
        }
        m_pending.append(bytes, static_cast<size_t>(lineFeed - bytes));
        Append("\r\n", 2);
        bytes = lineFeed + 1;
    }
}

void CStdioFile::WriteString(LPCSTR text)
{
    if (text)
        Write(text, static_cast<UINT>(std::strlen(text)));
}

UINT CStdioFile::Read(void* buffer, UINT count)
{
    Flush();
    return CFile::Read(buffer, count);
}

void CStdioFile::Flush()
{
    if (m_pending.empty() || !IsOpen())
        return;
    std::string bytes;
    bytes.swap(m_pending);
    CFile::Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

void CStdioFile::Close()
{
    if (!IsOpen())
        return;
    try {
        Flush();
    } catch (CFileException&) {
        CFile::Abort();
        throw;
    }
    CFile::Close();
}

void CStdioFile::Abort()
{
    m_pending.clear();
    CFile::Abort();
}

ULONGLONG CStdioFile::GetLength() const
{
    ULONGLONG end = CFile::GetPosition() + m_pending.size();
    ULONGLONG length = CFile::GetLength();
    return length > end ? length : end;
}

ULONGLONG CStdioFile::GetPosition() const
{
    return CFile::GetPosition() + m_pending.size();
}
