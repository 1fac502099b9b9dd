// A buffered archive over a byte stream, for storing or for loading: integers
// as little-endian bytes and CString as archived strings (a length prefix and
// the bytes of the text).
#pragma once

#include "framework/CByteStream.h"
#include "framework/CException.h"

#include <vector>

class CArchive
{
public:
    enum Mode { store = 0, load = 1 };

    CArchive(CByteStream* stream, UINT mode, int bufferSize = 4096);
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    // Bytes of a storing archive that were not written out by Close are dropped.
    ~CArchive();

    bool IsLoading() const { return m_loading; }
    bool IsStoring() const { return !m_loading; }
    CByteStream* GetFile() const { return m_stream; }

    // Reads up to count bytes; fewer only at the end of the data.
    UINT Read(void* buffer, UINT count);
    void Write(const void* buffer, UINT count);
    // Writes out the buffered bytes of a storing archive; failures throw.
    void Flush();
    // Flush, then detach from the stream (which stays open).
    void Close();
    // Detach without writing anything out.
    void Abort();

    CArchive& operator<<(BYTE value);
    CArchive& operator<<(WORD value);
    CArchive& operator<<(DWORD value);
    CArchive& operator<<(int value);
    CArchive& operator>>(BYTE& value);
    CArchive& operator>>(WORD& value);
    CArchive& operator>>(DWORD& value);
    CArchive& operator>>(int& value);

    // The length prefix of an archived string of length bytes.
    void WriteStringLength(ULONGLONG length);
    // Reads a length prefix. A prefix marking a UTF-16 text throws
    // CArchiveException(genericException): this program's files hold ANSI texts
    // only, so such a text means the file is not one of ours.
    ULONGLONG ReadStringLength();

    // Bytes that are still to be read: the buffered ones and the rest of the stream.
    ULONGLONG GetRemainingLength() const;

private:
    void ReadExactly(void* buffer, UINT count);
    [[noreturn]] void ThrowEndOfFile() const;
    void CheckMode(bool loading) const;

    CByteStream* m_stream;
    bool m_loading;
    std::vector<BYTE> m_buffer;
    // Loading: the next byte to hand out and the end of the valid bytes.
    // Storing: m_current is the number of buffered bytes.
    size_t m_current = 0;
    size_t m_end = 0;
};

CArchive& operator<<(CArchive& ar, const CString& text);
// A length that cannot fit in the rest of the data is an end-of-file error,
// raised before anything is allocated.
CArchive& operator>>(CArchive& ar, CString& text);
