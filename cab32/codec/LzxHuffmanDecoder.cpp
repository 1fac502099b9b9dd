#include "cab32/codec/LzxHuffmanDecoder.h"

#include <cstring>

namespace cab32 {
namespace lzx {

bool HuffmanDecoder::Build(const uint8_t* lengths, int count, bool mayBeEmpty)
{
    uint32_t perLength[kMaxCodeLength + 1] = {};
    for (int i = 0; i < count; ++i) {
        if (lengths[i] > kMaxCodeLength)
            return false;
        ++perLength[lengths[i]];
    }
    perLength[0] = 0;
    int64_t left = 1;
    uint32_t code = 0, index = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        left = left * 2 - perLength[len];
        if (left < 0)
            return false;
        m_first[len] = code;
        m_count[len] = perLength[len];
        m_offset[len] = index;
        code = (code + perLength[len]) << 1;
        index += perLength[len];
    }
    std::memset(m_fast, 0, sizeof(m_fast));
    if (left != 0)
        return mayBeEmpty && index == 0;
    uint32_t next[kMaxCodeLength + 1];
    std::memcpy(next, m_offset, sizeof(next));
    for (int i = 0; i < count; ++i)
        if (lengths[i] != 0)
            m_sorted[next[lengths[i]]++] = static_cast<uint16_t>(i);
    for (int len = 1; len <= kFastBits; ++len)
        for (uint32_t k = 0; k < m_count[len]; ++k) {
            const uint32_t c = m_first[len] + k;
            const uint16_t entry = static_cast<uint16_t>(m_sorted[m_offset[len] + k] | len << 12);
            const int spread = kFastBits - len;
            for (uint32_t j = 0; j < (1u << spread); ++j)
                m_fast[(c << spread) | j] = entry;
        }
    return true;
}

} // namespace lzx
} // namespace cab32
