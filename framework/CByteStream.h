// The bytes under an archive: a file on Windows, a block of memory anywhere.
// Free of <windows.h>, so that the archive and the project file's coding also
// build on the host.
#pragma once

#include "framework/CString.h"

class CByteStream
{
public:
    virtual ~CByteStream() = default;

    // Reads up to count bytes and returns how many were read: fewer only at the
    // end of the data. Failures throw CFileException.
    virtual UINT Read(void* buffer, UINT count) = 0;
    // Writes all count bytes or throws CFileException.
    virtual void Write(const void* buffer, UINT count) = 0;
    virtual ULONGLONG GetLength() const = 0;
    virtual ULONGLONG GetPosition() const = 0;
    // The path named in exceptions; empty for memory.
    virtual CString GetFilePath() const { return CString(); }
};
