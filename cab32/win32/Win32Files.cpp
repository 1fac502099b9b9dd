#include "cab32/win32/Win32Files.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "cab32/run/Paths.h"
#include "cab32/win32/FolderListings.h"
#include "cab32/win32/Win32Handles.h"
#include "cab32/win32/Win32Paths.h"

namespace cab32 {

namespace {

// The last count components of a path (backslash separated).
std::wstring LastComponents(const std::wstring& path, size_t count)
{
    size_t start = path.size();
    while (count > 0 && start > 0) {
        start = path.rfind(L'\\', start - 1);
        if (start == std::wstring::npos)
            return path;
        if (--count == 0)
            return path.substr(start + 1);
    }
    return path.substr(start);
}

} // namespace

Win32Files::Win32Files() = default;

Win32Files::~Win32Files() = default;

uint32_t Win32Files::StatListed(const std::string& path, SourceInfo& info)
{
    if (!m_listings)
        m_listings.reset(new FolderListings());
    if (m_listings->Find(path, info))
        return 0;
    return Stat(path, info);
}

// A lookup by path describes a link itself (size 0): a link is opened and
// described by its handle, which reads the target.
uint32_t Win32Files::Stat(const std::string& path, SourceInfo& info)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring wide = LongPathW(path);
    if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
        return LastError();
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        HANDLE h =
            CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return LastError();
        uint32_t err = InfoOfHandle(h, info);
        CloseHandle(h);
        return err;
    }
    Describe(SizeOf(data.nFileSizeHigh, data.nFileSizeLow), data.dwFileAttributes, data.ftLastWriteTime, info);
    return 0;
}

uint32_t Win32Files::OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info)
{
    HANDLE h = CreateFileW(LongPathW(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    file = SourceOnHandle(h);
    uint32_t err = InfoOfHandle(h, info);
    if (err != 0)
        file.reset();
    return err;
}

uint32_t Win32Files::OpenData(const std::string& path, std::unique_ptr<ByteSource>& file)
{
    HANDLE h = CreateFileW(LongPathW(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    file = SourceOnHandle(h);
    return 0;
}

uint32_t Win32Files::CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath)
{
    std::string folder = FolderOf(target, IsAnsiLeadByte);
    if (folder.empty())
        folder = ".";
    char name[MAX_PATH + 1];
    if (!GetTempFileNameA(folder.c_str(), "cab", 0, name))
        return LastError();
    HANDLE h =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        uint32_t err = LastError();
        DeleteFileA(name);
        return err;
    }
    tempPath = name;
    file = SinkOnHandle(h);
    return 0;
}

uint32_t Win32Files::Replace(const std::string& tempPath, const std::string& target)
{
    // Windows refuses to replace a read-only file; some emulations do not, so ask first.
    const std::wstring to = LongPathW(target);
    DWORD existing = GetFileAttributesW(to.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    if (!MoveFileExW(LongPathW(tempPath).c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastError();
    return 0;
}

uint32_t Win32Files::Remove(const std::string& path)
{
    return DeleteFileW(LongPathW(path).c_str()) ? 0 : GetLastError();
}

// Only a name with a '~' (a whole character, not a trail byte 0x7E) can hold
// a short name; any other is stored as listed, byte for byte.
uint32_t Win32Files::StoredName(const std::string& base, const std::string& name, std::string& stored, bool& utf8)
{
    utf8 = false;
    bool tilde = false;
    for (size_t i = 0; i < name.size() && !tilde; ++i) {
        if (IsAnsiLeadByte(static_cast<unsigned char>(name[i])))
            ++i;
        else
            tilde = name[i] == '~';
    }
    if (!tilde) {
        stored = name;
        return 0;
    }
    const std::wstring listed = Widen(name, CP_ACP);
    const std::wstring full = LongPathW(base + name);
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD n = GetLongPathNameW(full.c_str(), &resolved[0], static_cast<DWORD>(resolved.size()));
    if (n >= resolved.size()) {
        resolved.assign(n, L'\0');
        n = GetLongPathNameW(full.c_str(), &resolved[0], static_cast<DWORD>(resolved.size()));
    }
    if (n == 0 || n >= resolved.size())
        return LastError();
    resolved.resize(n);
    const size_t components = 1 + static_cast<size_t>(std::count(listed.begin(), listed.end(), L'\\'));
    const std::wstring relative = LastComponents(resolved, components);
    bool exact = false;
    stored = Narrow(relative, CP_ACP, &exact);
    if (!exact) {
        stored = Narrow(relative, CP_UTF8, nullptr);
        utf8 = true;
    }
    return 0;
}

// The system's own upper-casing of the name, as UTF-8.
std::string Win32Files::NameKey(const std::string& stored, bool utf8, bool (*)(unsigned char))
{
    std::wstring wide = Widen(stored, utf8 ? CP_UTF8 : CP_ACP);
    if (!wide.empty())
        CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return Narrow(wide, CP_UTF8, nullptr);
}

} // namespace cab32
