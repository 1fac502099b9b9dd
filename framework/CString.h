// A byte string in the ANSI code page (Shift-JIS on a Japanese system).
// Lengths and positions count bytes.
#pragma once

#include "framework/AfxTypes.h"

#include <cstdarg>
#include <string>

class CString
{
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString(LPCSTR text);
    CString(LPCSTR text, int length);
    explicit CString(char ch, int repeat = 1);
    ~CString() = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(LPCSTR text);
    CString& operator=(char ch);

    int GetLength() const { return static_cast<int>(m_data.size()); }
    bool IsEmpty() const { return m_data.empty(); }
    void Empty() { m_data.clear(); }

    operator LPCSTR() const { return m_data.c_str(); }
    LPCSTR GetString() const { return m_data.c_str(); }
    char GetAt(int index) const;
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch);

    CString& operator+=(const CString& text);
    CString& operator+=(LPCSTR text);
    CString& operator+=(char ch);

    // Position of ch or of sub at or after start, or -1.
    int Find(char ch, int start = 0) const;
    int Find(LPCSTR sub, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;

    // Both return the new length; an index past the end appends.
    int Insert(int index, char ch);
    int Insert(int index, LPCSTR text);
    int Delete(int index, int count = 1);

    CString& TrimLeft();
    CString& TrimLeft(char target);
    CString& TrimRight();
    CString& TrimRight(char target);

    void Format(LPCSTR format, ...);
    void FormatV(LPCSTR format, va_list args);

    int Compare(LPCSTR other) const;
    int CompareNoCase(LPCSTR other) const;

    // A writable buffer of at least minLength characters plus the terminator;
    // ReleaseBuffer(-1) takes the length up to the first zero byte.
    LPSTR GetBuffer(int minLength = 0);
    LPSTR GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);

private:
    std::string m_data;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, LPCSTR b);
CString operator+(LPCSTR a, const CString& b);
CString operator+(const CString& a, char b);

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, LPCSTR b);
bool operator==(LPCSTR a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, LPCSTR b);
bool operator!=(LPCSTR a, const CString& b);
bool operator<(const CString& a, const CString& b);
