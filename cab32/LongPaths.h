// Paths past MAX_PATH. Windows takes a path that long only in its
// extended-length form: "\\?\" before the full path ("\\?\UNC\" for a share),
// which no call resolves further (no "." or "..", no relative part). The
// archiver and the program's walk both open files this way, so that both agree
// on which paths take that form. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace cab32 {

// Below this many characters every call takes a path as it is (a folder made
// by CreateDirectory leaves room for an 8.3 name in MAX_PATH).
constexpr size_t kLongPathFrom = MAX_PATH - 12;

// The form of a path every call takes: itself when short or already extended,
// else its full path made extended-length; itself again when it has no full path.
inline std::wstring ExtendedLengthPath(const std::wstring& path)
{
    if (path.size() < kLongPathFrom || path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    if (n == 0 || (n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr)) == 0 || n >= full.size())
        return path;
    full.resize(n);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace cab32
