// A buffered file for text. Opened without typeBinary it is in text mode: each
// "\n" written becomes CR LF. Written bytes reach the file when the 4,096-byte
// buffer fills, on Flush and on Close, and a failure of that write throws there.
#pragma once

#include "framework/CFile.h"

#include <string>

class CStdioFile : public CFile
{
public:
    CStdioFile() = default;
    // Writes out what the buffer holds, ignoring errors, and closes.
    ~CStdioFile() override;

    BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
    virtual void WriteString(LPCSTR text);
    // Reads raw bytes, after writing out what the buffer holds.
    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    // Writes out the buffer (it does not force the system to the disk).
    void Flush() override;
    // Writes out the buffer and closes; a failed write throws once the file is closed.
    void Close() override;
    // Drops the buffer and closes, ignoring errors.
    void Abort() override;

    ULONGLONG GetLength() const override;
    ULONGLONG GetPosition() const override;

    static const size_t kBufferSize = 4096;

private:
    void Append(const char* bytes, size_t count);

    bool m_textMode = true;
    std::string m_pending;
};
