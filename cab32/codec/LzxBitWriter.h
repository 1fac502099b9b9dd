// The LZX bit stream as written: bits go most significant first into 16-bit
// words, which are stored little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cab32 {
namespace lzx {

class BitWriter
{
public:
    // Appends the low count bits of value (count at most 32).
    void Put(uint32_t value, int count)
    {
        m_acc = (m_acc << count) | (value & ((uint64_t(1) << count) - 1));
        m_count += count;
        while (m_count >= 16) {
            m_count -= 16;
            const uint32_t word = static_cast<uint32_t>(m_acc >> m_count) & 0xFFFF;
            m_out.push_back(static_cast<uint8_t>(word));
            m_out.push_back(static_cast<uint8_t>(word >> 8));
        }
    }

    // Pads with zero bits to the next 16-bit word.
    void Align()
    {
        if (m_count > 0)
            Put(0, 16 - m_count);
    }

    // Pads with zero bits to the next 16-bit word, a whole word of them when
    // already there (an uncompressed block's header wants one to sixteen).
    void AlignOneToSixteen() { Put(0, 16 - m_count); }

    // Appends whole bytes (on a 16-bit word only: after an Align).
    void PutBytes(const uint8_t* data, size_t len) { m_out.insert(m_out.end(), data, data + len); }

    // Bits written since the last Take.
    size_t Bits() const { return m_out.size() * 8 + static_cast<size_t>(m_count); }

    // Hands over the bytes written so far (call after Align).
    std::vector<uint8_t> Take()
    {
        std::vector<uint8_t> out;
        out.swap(m_out);
        m_out.reserve(out.size());
        return out;
    }

private:
    std::vector<uint8_t> m_out;
    uint64_t m_acc = 0; // pending bits, the oldest highest
    int m_count = 0;    // pending bits not yet in m_out (0..15)
};

} // namespace lzx
} // namespace cab32
