#include "cab32/win32/Win32Paths.h"

namespace cab32 {

namespace {

// Below this many characters every call takes a path as it is (a folder
// made by CreateDirectory leaves room for an 8.3 name in MAX_PATH).
constexpr size_t kShortPath = MAX_PATH - 12;

} // namespace

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
    std::wstring wide = Widen(path, CP_ACP);
    if (wide.size() < kShortPath || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    if (n == 0 || (n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr)) == 0 || n >= full.size())
        return wide;
    full.resize(n);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace cab32
