#include "backup/WalkLimits.h"

#include "cab32/Cab32.h"
#include "cab32/LongPaths.h"

#include <mbstring.h>

#include <string>

namespace {

std::wstring Widen(LPCSTR text, int length)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], n);
    return wide;
}

// Bytes of wide in the code page when every character converts exactly, else in UTF-8.
int StoredBytes(const std::wstring& wide)
{
    BOOL usedDefault = FALSE;
    const int length = static_cast<int>(wide.size());
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, &usedDefault);
    if (n > 0 && !usedDefault)
        return n;
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
}

} // namespace

bool IsReservedName(const CString& name)
{
    // A double-byte character's trail byte is never a dot or a blank.
    const int length = name.GetLength();
    if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ')
        return true;
    // The name before its first dot, blanks trimmed, ASCII letters in upper case
    // (a lead byte is never a letter, so no double-byte name matches).
    std::string base(name.GetString(), static_cast<size_t>(length));
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

std::wstring LongPathW(const CString& path)
{
    return cab32::ExtendedLengthPath(Widen(path, path.GetLength()));
}

// As the archiver resolves it: the long form of the full path, of which the
// last components (as many as relative has) make the stored name.
int StoredNameBytes(const CString& fullPath, const CString& relative)
{
    const unsigned char* text = reinterpret_cast<const unsigned char*>(static_cast<LPCSTR>(relative));
    if (_mbschr(text, '~') == nullptr)
        return relative.GetLength();
    const std::wstring full = LongPathW(fullPath);
    DWORD n = GetLongPathNameW(full.c_str(), nullptr, 0);
    std::wstring resolved(n, L'\0');
    if (n == 0 || (n = GetLongPathNameW(full.c_str(), &resolved[0], n)) == 0 || n >= resolved.size())
        return relative.GetLength();
    resolved.resize(n);
    int components = 1;
    for (const unsigned char* p = _mbschr(text, '\\'); p != nullptr; p = _mbschr(p + 1, '\\'))
        ++components;
    size_t start = resolved.size();
    for (int i = 0; i < components && start != std::wstring::npos; ++i)
        start = start > 0 ? resolved.rfind(L'\\', start - 1) : std::wstring::npos;
    return StoredBytes(start == std::wstring::npos ? resolved : resolved.substr(start + 1));
}

bool TooLargeToStore(ULONGLONG size)
{
    return size > kCab32LargestFile;
}

bool LinkTarget(const CString& path, ULONGLONG& size)
{
    size = 0;
    HANDLE h = CreateFileW(LongPathW(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (GetFileInformationByHandle(h, &data))
        size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    CloseHandle(h);
    return true;
}
