// A byte stream held in memory: the archive's stand-in for a file in tests and
// in the host build.
#pragma once

#include "framework/CByteStream.h"

#include <vector>

class CMemFile : public CByteStream
{
public:
    CMemFile() = default;
    CMemFile(const void* data, size_t size);

    UINT Read(void* buffer, UINT count) override;
    void Write(const void* buffer, UINT count) override;
    ULONGLONG GetLength() const override { return m_data.size(); }
    ULONGLONG GetPosition() const override { return m_position; }

    void SeekToBegin() { m_position = 0; }
    const std::vector<BYTE>& GetData() const { return m_data; }

private:
    std::vector<BYTE> m_data;
    size_t m_position = 0;
};
