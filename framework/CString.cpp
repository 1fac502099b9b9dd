#include "framework/CString.h"

#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <mbstring.h>
#else
#include <strings.h>
#endif

namespace {

int ClampIndex(int index, int length)
{
    if (index < 0)
        return 0;
    return index > length ? length : index;
}

} // namespace

CString::CString(LPCSTR text) : m_data(text ? text : "") {}

CString::CString(LPCSTR text, int length)
    : m_data(text && length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string())
{}

CString::CString(char ch, int repeat) : m_data(repeat > 0 ? static_cast<size_t>(repeat) : 0, ch) {}

CString& CString::operator=(LPCSTR text)
{
    m_data = text ? text : "";
    return *this;
}

CString& CString::operator=(char ch)
{
    m_data.assign(1, ch);
    return *this;
}

char CString::GetAt(int index) const
{
    if (index < 0 || index >= GetLength())
        return '\0';
    return m_data[static_cast<size_t>(index)];
}

void CString::SetAt(int index, char ch)
{
    if (index >= 0 && index < GetLength())
        m_data[static_cast<size_t>(index)] = ch;
}

CString& CString::operator+=(const CString& text)
{
    m_data += text.m_data;
    return *this;
}

CString& CString::operator+=(LPCSTR text)
{
    if (text)
        m_data += text;
    return *this;
}

CString& CString::operator+=(char ch)
{
    m_data += ch;
    return *this;
}

// Positions advance by whole characters, so a byte that is the second half of
// a double-byte character is never taken for ch. start must be a character
// boundary.
int CString::Find(char ch, int start) const
{
    if (start < 0 || start >= GetLength())
        return -1;
#ifdef _WIN32
    const unsigned char* begin = reinterpret_cast<const unsigned char*>(m_data.c_str());
    const unsigned char* end = begin + m_data.size();
    for (const unsigned char* p = begin + start; p < end; p = _mbsinc(p)) {
        if (*p == static_cast<unsigned char>(ch))
            return static_cast<int>(p - begin);
    }
    return -1;
#else
    size_t pos = m_data.find(ch, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
#endif
}

int CString::Find(LPCSTR sub, int start) const
{
    if (!sub || start < 0 || start > GetLength())
        return -1;
    size_t pos = m_data.find(sub, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const
{
#ifdef _WIN32
    int found = -1;
    for (int pos = Find(ch, 0); pos >= 0; pos = Find(ch, pos + 1))
        found = pos;
    return found;
#else
    size_t pos = m_data.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
#endif
}

CString CString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const
{
    first = ClampIndex(first, GetLength());
    if (count < 0)
        count = 0;
    if (count > GetLength() - first)
        count = GetLength() - first;
    CString result;
    result.m_data = m_data.substr(static_cast<size_t>(first), static_cast<size_t>(count));
    return result;
}

CString CString::Left(int count) const
{
    return Mid(0, count);
}

CString CString::Right(int count) const
{
    count = ClampIndex(count, GetLength());
    return Mid(GetLength() - count, count);
}

int CString::Insert(int index, char ch)
{
    m_data.insert(static_cast<size_t>(ClampIndex(index, GetLength())), 1, ch);
    return GetLength();
}

int CString::Insert(int index, LPCSTR text)
{
    if (text)
        m_data.insert(static_cast<size_t>(ClampIndex(index, GetLength())), text);
    return GetLength();
}

int CString::Delete(int index, int count)
{
    index = ClampIndex(index, GetLength());
    if (count > 0)
        m_data.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

CString& CString::TrimLeft()
{
    size_t pos = m_data.find_first_not_of(" \t\r\n\v\f");
    m_data.erase(0, pos == std::string::npos ? m_data.size() : pos);
    return *this;
}

CString& CString::TrimLeft(char target)
{
    size_t pos = m_data.find_first_not_of(target);
    m_data.erase(0, pos == std::string::npos ? m_data.size() : pos);
    return *this;
}

// A trail byte of a double-byte character is never below 0x40, so trimming
// white space from the end never splits a character.
CString& CString::TrimRight()
{
    size_t pos = m_data.find_last_not_of(" \t\r\n\v\f");
    m_data.erase(pos == std::string::npos ? 0 : pos + 1);
    return *this;
}

// A target of 0x40 or above may be the second byte of a double-byte
// character, so the text is walked by whole characters.
CString& CString::TrimRight(char target)
{
#ifdef _WIN32
    const unsigned char* begin = reinterpret_cast<const unsigned char*>(m_data.c_str());
    const unsigned char* end = begin + m_data.size();
    const unsigned char* keep = begin;
    for (const unsigned char* p = begin; p < end;) {
        const unsigned char* next = _mbsinc(p);
        if (*p != static_cast<unsigned char>(target) || next - p != 1)
            keep = next;
        p = next;
    }
    m_data.erase(static_cast<size_t>(keep - begin > end - begin ? end - begin : keep - begin));
#else
    size_t pos = m_data.find_last_not_of(target);
    m_data.erase(pos == std::string::npos ? 0 : pos + 1);
#endif
    return *this;
}

void CString::Format(LPCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(LPCSTR format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_data.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    m_data.assign(buffer.data(), static_cast<size_t>(needed));
}

int CString::Compare(LPCSTR other) const
{
#ifdef _WIN32
    return _mbscmp(reinterpret_cast<const unsigned char*>(m_data.c_str()),
                   reinterpret_cast<const unsigned char*>(other ? other : ""));
#else
    return std::strcmp(m_data.c_str(), other ? other : "");
#endif
}

int CString::CompareNoCase(LPCSTR other) const
{
#ifdef _WIN32
    return _mbsicmp(reinterpret_cast<const unsigned char*>(m_data.c_str()),
                    reinterpret_cast<const unsigned char*>(other ? other : ""));
#else
    return strcasecmp(m_data.c_str(), other ? other : "");
#endif
}

LPSTR CString::GetBuffer(int minLength)
{
    if (minLength > GetLength())
        m_data.resize(static_cast<size_t>(minLength), '\0');
    return &m_data[0];
}

LPSTR CString::GetBufferSetLength(int length)
{
    m_data.resize(static_cast<size_t>(length > 0 ? length : 0), '\0');
    return &m_data[0];
}

void CString::ReleaseBuffer(int newLength)
{
    if (newLength < 0)
        newLength = static_cast<int>(std::strlen(m_data.c_str()));
    if (newLength > GetLength())
        newLength = GetLength();
    m_data.resize(static_cast<size_t>(newLength));
}

CString operator+(const CString& a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, LPCSTR b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(LPCSTR a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, char b)
{
    CString r(a);
    r += b;
    return r;
}

bool operator==(const CString& a, const CString& b)
{
    return a.GetLength() == b.GetLength() &&
           std::memcmp(a.GetString(), b.GetString(), static_cast<size_t>(a.GetLength())) == 0;
}

bool operator==(const CString& a, LPCSTR b)
{
    return std::strcmp(a, b ? b : "") == 0;
}
bool operator==(LPCSTR a, const CString& b)
{
    return b == a;
}
bool operator!=(const CString& a, const CString& b)
{
    return !(a == b);
}
bool operator!=(const CString& a, LPCSTR b)
{
    return !(a == b);
}
bool operator!=(LPCSTR a, const CString& b)
{
    return !(b == a);
}
bool operator<(const CString& a, const CString& b)
{
    return a.Compare(b) < 0;
}
