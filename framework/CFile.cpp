#include "framework/CFile.h"

namespace {

// The open flags' access mode and sharing mode fields.
const UINT kAccessMask = 0x0003;
const UINT kShareMask = 0x0070;

CString g_fullDiskSuffix;
ULONGLONG g_fullDiskCapacity = 0;

bool IsOnFullDisk(const CString& path)
{
    int n = g_fullDiskSuffix.GetLength();
    return n > 0 && path.GetLength() >= n && path.Right(n).CompareNoCase(g_fullDiskSuffix) == 0;
}

} // namespace

void CFile::SimulateDiskFull(LPCSTR pathSuffix, ULONGLONG capacity)
{
    g_fullDiskSuffix = pathSuffix;
    g_fullDiskCapacity = capacity;
}

CFile::CFile(LPCSTR fileName, UINT openFlags)
{
    CFileException error;
    if (!Open(fileName, openFlags, &error))
        throw error;
}

CFile::~CFile()
{
    if (IsOpen())
        CloseHandle(m_hFile);
}

void CFile::MapOpenFlags(UINT openFlags, DWORD& access, DWORD& share, DWORD& creation)
{
    switch (openFlags & kAccessMask) {
    case modeWrite: access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default: access = GENERIC_READ; break;
    }
    switch (openFlags & kShareMask) {
    case shareExclusive: share = 0; break;
    case shareDenyWrite: share = FILE_SHARE_READ; break;
    case shareDenyRead: share = FILE_SHARE_WRITE; break;
    default: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    }
    if (openFlags & modeCreate)
        creation = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    else
        creation = OPEN_EXISTING;
}

BOOL CFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error)
{
    if (IsOpen())
        Abort();
    DWORD access, share, creation;
    MapOpenFlags(openFlags, access, share, creation);
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, (openFlags & modeNoInherit) ? FALSE : TRUE};
    m_strFileName = fileName;
    HANDLE handle = CreateFileA(fileName, access, share, &security, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        LONG osError = static_cast<LONG>(GetLastError());
        if (error) {
            error->m_cause = CFileException::OsErrorToException(osError);
            error->m_lOsError = osError;
            error->m_strFileName = fileName;
        }
        return FALSE;
    }
    m_hFile = handle;
    return TRUE;
}

void CFile::ThrowLastError() const
{
    LONG osError = static_cast<LONG>(GetLastError());
    AfxThrowFileException(CFileException::OsErrorToException(osError), osError, m_strFileName);
}

UINT CFile::Read(void* buffer, UINT count)
{
    if (count == 0)
        return 0;
    DWORD read = 0;
    if (!ReadFile(m_hFile, buffer, count, &read, nullptr))
        ThrowLastError();
    return read;
}

void CFile::Write(const void* buffer, UINT count)
{
    if (count == 0)
        return;
    DWORD written = 0;
    if (IsOnFullDisk(m_strFileName)) {
        ULONGLONG position = GetPosition();
        ULONGLONG room = position < g_fullDiskCapacity ? g_fullDiskCapacity - position : 0;
        if (room < count) {
            if (room > 0)
                WriteFile(m_hFile, buffer, static_cast<DWORD>(room), &written, nullptr);
            AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
        }
    }
    if (!WriteFile(m_hFile, buffer, count, &written, nullptr))
        ThrowLastError();
    if (written != count)
        AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
}

void CFile::Flush()
{
    if (IsOpen() && !FlushFileBuffers(m_hFile))
        ThrowLastError();
}

void CFile::Close()
{
    if (!IsOpen())
        return;
    HANDLE handle = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle))
        ThrowLastError();
}

void CFile::Abort()
{
    if (IsOpen())
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hFile, &size))
        ThrowLastError();
    return static_cast<ULONGLONG>(size.QuadPart);
}

ULONGLONG CFile::GetPosition() const
{
    LARGE_INTEGER zero = {}, position;
    if (!SetFilePointerEx(m_hFile, zero, &position, FILE_CURRENT))
        ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from)
{
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(m_hFile, distance, &position, from))
        ThrowLastError();
    return static_cast<ULONGLONG>(position.QuadPart);
}
