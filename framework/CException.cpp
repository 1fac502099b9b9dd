#include "framework/CException.h"

#include <cstdio>

namespace {

bool CopyMessage(LPSTR buffer, UINT maxChars, LPCSTR text)
{
    if (!buffer || maxChars == 0)
        return false;
    std::snprintf(buffer, maxChars, "%s", text);
    return true;
}

} // namespace

bool CException::GetErrorMessage(LPSTR buffer, UINT maxChars) const
{
    if (buffer && maxChars > 0)
        buffer[0] = '\0';
    return false;
}

bool CMemoryException::GetErrorMessage(LPSTR buffer, UINT maxChars) const
{
    return CopyMessage(buffer, maxChars, "メモリが不足しています。");
}

bool CFileException::GetErrorMessage(LPSTR buffer, UINT maxChars) const
{
    CString text;
    text.Format("ファイル %s のアクセス中にエラーが発生しました (原因 %d, システムエラー %ld)。",
                m_strFileName.IsEmpty() ? "(不明)" : m_strFileName.GetString(), m_cause, static_cast<long>(m_lOsError));
    return CopyMessage(buffer, maxChars, text);
}

bool CArchiveException::GetErrorMessage(LPSTR buffer, UINT maxChars) const
{
    CString text;
    if (m_cause == endOfFile)
        text.Format("ファイル %s は途中で終わっています。",
                    m_strFileName.IsEmpty() ? "(不明)" : m_strFileName.GetString());
    else
        text.Format("ファイル %s の形式が正しくありません (原因 %d)。",
                    m_strFileName.IsEmpty() ? "(不明)" : m_strFileName.GetString(), m_cause);
    return CopyMessage(buffer, maxChars, text);
}

int CFileException::OsErrorToException(LONG osError)
{
#ifdef _WIN32
    switch (osError) {
    case NO_ERROR: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_DRIVE: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_CURRENT_DIRECTORY: return removeCurrentDir;
    case ERROR_CANNOT_MAKE: return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE: return hardIO;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
    }
#else
    return osError == 0 ? none : genericException;
#endif
}

void AfxThrowMemoryException()
{
    throw CMemoryException();
}

void AfxThrowFileException(int cause, LONG osError, LPCSTR fileName)
{
    throw CFileException(cause, osError, fileName);
}

void AfxThrowArchiveException(int cause, LPCSTR fileName)
{
    throw CArchiveException(cause, fileName);
}
