// Paths and text as the system takes them: the process's ANSI code page, text
// between it (or UTF-8) and UTF-16, and paths past MAX_PATH reached through
// "\\?\" for the wide calls.
#pragma once

#include <windows.h>

#include <string>

namespace cab32 {

// Lead bytes of the process's ANSI code page (a LeadByteTest, run/Paths.h).
bool IsAnsiLeadByte(unsigned char c);

// text in codePage as UTF-16.
std::wstring Widen(const std::string& text, UINT codePage);

// The text in the code page; with exact, false when a character had no
// exact counterpart there (no best fit is taken).
std::string Narrow(const std::wstring& wide, UINT codePage, bool* exact);

// path (ANSI) for the wide calls, in its extended-length form where it is
// too long for them (cab32/LongPaths.h).
std::wstring LongPathW(const std::string& path);

} // namespace cab32
