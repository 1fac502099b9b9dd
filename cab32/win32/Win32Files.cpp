#include "cab32/win32/Win32Files.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/run/Paths.h"
#include "cab32/win32/Win32Paths.h"

namespace cab32 {

namespace {

uint32_t LastError()
{
    DWORD err = GetLastError();
    return err != 0 ? err : ERROR_GEN_FAILURE;
}

class HandleSource : public ByteSource
{
public:
    explicit HandleSource(HANDLE h) : m_handle(h) {}
    ~HandleSource() override { CloseHandle(m_handle); }

    uint32_t Read(void* buffer, size_t len, size_t& got) override
    {
        got = 0;
        uint8_t* p = static_cast<uint8_t*>(buffer);
        while (got < len) {
            DWORD want = len - got > 0x100000 ? 0x100000 : static_cast<DWORD>(len - got);
            DWORD n = 0;
            if (!ReadFile(m_handle, p + got, want, &n, nullptr))
                return LastError();
            if (n == 0)
                break;
            got += n;
        }
        return 0;
    }

    uint32_t Seek(uint64_t offset) override
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN) ? 0 : LastError();
    }

    uint32_t Size(uint64_t& size) override
    {
        LARGE_INTEGER s;
        if (!GetFileSizeEx(m_handle, &s))
            return LastError();
        size = static_cast<uint64_t>(s.QuadPart);
        return 0;
    }

    uint32_t Look(SourceInfo& info, bool dates) override;

private:
    HANDLE m_handle;
};

class HandleSink : public ByteSink
{
public:
    explicit HandleSink(HANDLE h) : m_handle(h) {}
    ~HandleSink() override { CloseHandle(m_handle); }

    uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(m_handle, to, nullptr, FILE_BEGIN))
            return LastError();
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (len > 0) {
            DWORD want = len > 0x100000 ? 0x100000 : static_cast<DWORD>(len);
            DWORD n = 0;
            if (!WriteFile(m_handle, p, want, &n, nullptr))
                return LastError();
            if (n == 0)
                return ERROR_DISK_FULL;
            p += n;
            len -= n;
        }
        return 0;
    }

    uint32_t Flush() override { return FlushFileBuffers(m_handle) ? 0 : LastError(); }

private:
    HANDLE m_handle;
};

void DosTimeOf(const FILETIME& utcTime, uint16_t& date, uint16_t& time)
{
    SYSTEMTIME utc, local;
    if (!FileTimeToSystemTime(&utcTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        MakeDosDateTime(1980, 1, 1, 0, 0, 0, date, time);
        return;
    }
    MakeDosDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, date, time);
}

uint16_t KeptAttributes(DWORD attributes)
{
    return static_cast<uint16_t>(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                               FILE_ATTRIBUTE_ARCHIVE));
}

// What the cabinet records of a file the system describes by size, attributes and last write.
void Describe(uint64_t size, DWORD attributes, const FILETIME& written, SourceInfo& info)
{
    info.size = size;
    info.written = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    info.attribs = KeptAttributes(attributes);
    info.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    DosTimeOf(written, info.dosDate, info.dosTime);
}

uint64_t SizeOf(DWORD high, DWORD low)
{
    return (static_cast<uint64_t>(high) << 32) | low;
}

// Asked without the file's name: GetFileInformationByHandle asks for it, which
// under Wine took about 180 us a call, against a few for these two.
uint32_t HandleSource::Look(SourceInfo& info, bool dates)
{
    FILE_BASIC_INFO basic;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(m_handle, FileBasicInfo, &basic, sizeof basic) || !GetFileSizeEx(m_handle, &size))
        return LastError();
    const FILETIME written = {basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
    info = SourceInfo();
    if (dates) {
        Describe(static_cast<uint64_t>(size.QuadPart), basic.FileAttributes, written, info);
        return 0;
    }
    info.size = static_cast<uint64_t>(size.QuadPart);
    info.written = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    info.attribs = KeptAttributes(basic.FileAttributes);
    return 0;
}

// Size, time and attributes of the file an open handle reads: for a link, its target.
uint32_t InfoOfHandle(HANDLE h, SourceInfo& info)
{
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(h, &data))
        return LastError();
    Describe(SizeOf(data.nFileSizeHigh, data.nFileSizeLow), data.dwFileAttributes, data.ftLastWriteTime, info);
    return 0;
}

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

// The name as the file system compares it: upper case.
std::wstring KeyOf(std::wstring name)
{
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

// One folder's entries, found by their upper-cased names.
struct FolderListing
{
    struct Entry
    {
        uint32_t keyAt;   // where its key starts in keys
        uint32_t keyLen;  // characters of its key
        uint64_t size;    // bytes
        FILETIME written; // last write, UTC
        DWORD attributes; // as listed
        bool byPath;      // the listing cannot answer for it alone (a link, or a key two entries share)
    };
    std::string folder;         // as the caller names it, ending in a backslash
    std::wstring keys;          // every entry's key, one after another
    std::vector<Entry> entries; // sorted by key

    std::wstring_view Key(const Entry& e) const { return std::wstring_view(keys).substr(e.keyAt, e.keyLen); }
};

} // namespace

// The listings of the folders from the top down to the one asked for last.
// A walk lists a folder's files before and after its subfolders, so a folder
// stays listed while the run is below it. When listings stop paying (names
// that come in no folder order), every name is looked up by path.
class FolderListings
{
public:
    // True with info when a listing answers for path.
    bool Find(const std::string& path, SourceInfo& info);

private:
    static bool List(const std::string& folder, FolderListing& listing);

    std::vector<FolderListing> m_open;
    uint64_t m_lists = 0;   // folders listed
    uint64_t m_answers = 0; // names answered from a listing
};

// Lists folder into listing, sorted by key; false when it cannot be listed.
bool FolderListings::List(const std::string& folder, FolderListing& listing)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(LongPathW(folder + "*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    listing.folder = folder;
    do {
        const std::wstring key = KeyOf(data.cFileName);
        const uint64_t size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
        listing.entries.push_back({static_cast<uint32_t>(listing.keys.size()), static_cast<uint32_t>(key.size()), size,
                                   data.ftLastWriteTime, data.dwFileAttributes,
                                   (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
        listing.keys += key;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    std::vector<FolderListing::Entry>& entries = listing.entries;
    std::sort(entries.begin(), entries.end(), [&](const FolderListing::Entry& a, const FolderListing::Entry& b) {
        return listing.Key(a) < listing.Key(b);
    });
    for (size_t i = 1; i < entries.size(); ++i) {
        if (listing.Key(entries[i]) == listing.Key(entries[i - 1]))
            entries[i].byPath = entries[i - 1].byPath = true;
    }
    return true;
}

bool FolderListings::Find(const std::string& path, SourceInfo& info)
{
    if (m_lists > 64 && m_answers < 4 * m_lists)
        return false;
    const std::string folder = FolderOf(path, IsAnsiLeadByte);
    if (folder.empty())
        return false;
    while (!m_open.empty() && folder.compare(0, m_open.back().folder.size(), m_open.back().folder) != 0)
        m_open.pop_back();
    if (m_open.empty() || m_open.back().folder != folder) {
        FolderListing listing;
        if (!List(folder, listing))
            return false;
        ++m_lists;
        m_open.push_back(std::move(listing));
    }
    const FolderListing& listing = m_open.back();
    const std::wstring key = KeyOf(Widen(path.substr(folder.size()), CP_ACP));
    auto found =
        std::lower_bound(listing.entries.begin(), listing.entries.end(), key,
                         [&](const FolderListing::Entry& e, const std::wstring& k) { return listing.Key(e) < k; });
    if (found == listing.entries.end() || listing.Key(*found) != key || found->byPath)
        return false;
    Describe(found->size, found->attributes, found->written, info);
    ++m_answers;
    return true;
}

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
    file.reset(new HandleSource(h));
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
    file.reset(new HandleSource(h));
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
    file.reset(new HandleSink(h));
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
