// Feeds arbitrary bytes to the cabinet verifier as if they were a cabinet read
// back from disk: it must reject damage with an error, never crash or hang.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cab32/CabVerifier.h"

namespace {

class MemorySource : public cab32::ByteSource
{
public:
    MemorySource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint32_t Read(void* buffer, size_t len, size_t& got) override
    {
        size_t left = m_pos < m_size ? m_size - m_pos : 0;
        got = len < left ? len : left;
        if (got)
            std::memcpy(buffer, m_data + m_pos, got);
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
        size = m_size;
        return 0;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    uint64_t m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemorySource source(data, size);
    cab32::VerifiedCabinet result;
    cab32::VerifyCabinet(source, result);
    return 0;
}
