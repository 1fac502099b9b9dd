// A file opened through CreateFileA, unbuffered. Open reports failure as FALSE;
// every other operation throws CFileException with the cause taken from
// GetLastError.
#pragma once

#include "framework/CByteStream.h"
#include "framework/CException.h"

#include <windows.h>

class CFile : public CByteStream
{
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    // Opens the file or throws CFileException.
    CFile(LPCSTR fileName, UINT openFlags);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    // Closes an open file; errors are ignored.
    ~CFile() override;

    // The CreateFileA parameters that openFlags stand for.
    static void MapOpenFlags(UINT openFlags, DWORD& access, DWORD& share, DWORD& creation);

    virtual BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr);
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    // Writes everything the system still holds for the file to the disk.
    virtual void Flush();
    virtual void Close();
    // Closes the file, ignoring errors.
    virtual void Abort();

    ULONGLONG GetLength() const override;
    ULONGLONG GetPosition() const override;
    ULONGLONG Seek(LONGLONG offset, UINT from);
    CString GetFilePath() const override { return m_strFileName; }

    // Makes files whose path ends in pathSuffix (any case) behave as if their
    // disk held only capacity bytes: a write past that stores what fits and
    // fails with ERROR_DISK_FULL. Null removes the limit. For fault tests.
    static void SimulateDiskFull(LPCSTR pathSuffix, ULONGLONG capacity);
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    HANDLE m_hFile = INVALID_HANDLE_VALUE;

protected:
    [[noreturn]] void ThrowLastError() const;

    CString m_strFileName;
};
