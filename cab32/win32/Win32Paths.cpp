#include "cab32/win32/Win32Paths.h"

#include "cab32/LongPaths.h"

namespace cab32 {

bool IsAnsiLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != FALSE;
}

std::wstring Widen(const std::string& text, UINT codePage)
{
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage, bool* exact)
{
    BOOL usedDefault = FALSE;
    const DWORD flags = exact ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL* used = exact ? &usedDefault : nullptr;
    int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, used);
    std::string text(static_cast<size_t>(n), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, used);
    if (exact)
        *exact = !usedDefault && (n > 0 || wide.empty());
    return text;
}

std::wstring LongPathW(const std::string& path)
{
    return ExtendedLengthPath(Widen(path, CP_ACP));
}

} // namespace cab32
