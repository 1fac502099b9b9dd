// Text between UTF-16 and the ANSI code page, with no best fit: a character the
// code page lacks is never turned into another that looks like it.
#pragma once

#include "framework/CString.h"

#include <string>

// text (length characters, -1: up to its terminator) in the ANSI code page; each
// character the code page lacks becomes '?' and clears *exact.
CString AfxToCodePage(const wchar_t* text, int length = -1, bool* exact = nullptr);
inline CString AfxToCodePage(const std::wstring& text, bool* exact = nullptr)
{
    return AfxToCodePage(text.c_str(), static_cast<int>(text.size()), exact);
}

// text (length bytes, -1: up to its terminator) in UTF-16.
std::wstring AfxFromCodePage(LPCSTR text, int length = -1);
