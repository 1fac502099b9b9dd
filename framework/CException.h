// The framework's exception family. Exceptions are thrown by value and caught
// by reference; Delete() exists so that handlers read as the framework's
// conventions expect, and does nothing.
#pragma once

#include "framework/CString.h"

class CException
{
public:
    virtual ~CException() = default;
    void Delete() {}
    // Writes a one-line description of the error into buffer; false when there is none.
    virtual bool GetErrorMessage(LPSTR buffer, UINT maxChars) const;
};

class CMemoryException : public CException
{
public:
    bool GetErrorMessage(LPSTR buffer, UINT maxChars) const override;
};

class CFileException : public CException
{
public:
    enum Cause {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName)
    {}

    bool GetErrorMessage(LPSTR buffer, UINT maxChars) const override;

    // Maps a system error code (GetLastError) to a cause.
    static int OsErrorToException(LONG osError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

class CArchiveException : public CException
{
public:
    enum Cause {
        none,
        genericException,
        readOnly,
        endOfFile,
        writeOnly,
        badIndex,
        badClass,
        badSchema,
    };

    explicit CArchiveException(int cause = none, LPCSTR fileName = nullptr) : m_cause(cause), m_strFileName(fileName) {}

    bool GetErrorMessage(LPSTR buffer, UINT maxChars) const override;

    int m_cause;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, LONG osError = -1, LPCSTR fileName = nullptr);
[[noreturn]] void AfxThrowArchiveException(int cause, LPCSTR fileName = nullptr);
