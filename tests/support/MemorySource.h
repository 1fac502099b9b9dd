// A cabinet byte source over bytes held in memory, for the fuzzers.
#pragma once

#include <cstring>
#include <string>

#include "cab32/format/CabIo.h"

class MemorySource : public cab32::ByteSource
{
public:
    MemorySource(const void* data, size_t size) : m_data(static_cast<const char*>(data), size) {}
    explicit MemorySource(std::string data) : m_data(std::move(data)) {}

    uint32_t Read(void* buffer, size_t len, size_t& got) override
    {
        size_t left = m_pos < m_data.size() ? m_data.size() - m_pos : 0;
        got = len < left ? len : left;
        if (got)
            std::memcpy(buffer, m_data.data() + m_pos, got);
        m_pos += got;
        return 0;
    }

    uint32_t Seek(uint64_t offset) override
    {
        m_pos = offset;
        return 0;
    }

    uint32_t Size(uint64_t& size) override
    {
        size = m_data.size();
        return 0;
    }

private:
    std::string m_data;
    uint64_t m_pos = 0;
};
