#include "cab32/Win32Files.h"

#include <windows.h>

#include "cab32/CabFormat.h"
#include "cab32/CommandLine.h"

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
        while (got < len)
        {
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
        while (len > 0)
        {
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
    if (!FileTimeToSystemTime(&utcTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    {
        MakeDosDateTime(1980, 1, 1, 0, 0, 0, date, time);
        return;
    }
    MakeDosDateTime(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, date,
                    time);
}

uint16_t KeptAttributes(DWORD attributes)
{
    return static_cast<uint16_t>(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
}

} // namespace

bool IsAnsiLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) != FALSE;
}

uint32_t Win32Files::Stat(const std::string& path, SourceInfo& info)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return LastError();
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.attribs = KeptAttributes(data.dwFileAttributes);
    info.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    DosTimeOf(data.ftLastWriteTime, info.dosDate, info.dosTime);
    return 0;
}

uint32_t Win32Files::OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    file.reset(new HandleSource(h));
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(h, &data))
    {
        uint32_t err = LastError();
        file.reset();
        return err;
    }
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.attribs = KeptAttributes(data.dwFileAttributes);
    info.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    DosTimeOf(data.ftLastWriteTime, info.dosDate, info.dosTime);
    return 0;
}

uint32_t Win32Files::OpenData(const std::string& path, std::unique_ptr<ByteSource>& file)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
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
    HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
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
    DWORD existing = GetFileAttributesA(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    if (!MoveFileExA(tempPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return LastError();
    return 0;
}

uint32_t Win32Files::Remove(const std::string& path)
{
    return DeleteFileA(path.c_str()) ? 0 : GetLastError();
}

} // namespace cab32
