// Reading one frame's LZX bits (16-bit little-endian words, most significant
// bit first). Past the end of
// the input the reader yields zero bits and counts them, so a damaged frame is
// caught by Overrun() instead of by reading out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

class BitReader
{
public:
    BitReader(const uint8_t* data, size_t len) : m_begin(data), m_p(data), m_end(data + len) {}

    uint32_t Peek(int count)
    {
        Fill(count);
        return count == 0 ? 0 : static_cast<uint32_t>(m_acc >> (64 - count));
    }
    void Skip(int count)
    {
        m_acc <<= count;
        m_count -= count;
    }
    uint32_t Read(int count)
    {
        const uint32_t v = Peek(count);
        Skip(count);
        return v;
    }

    // Bits consumed from the start of the frame, counting the zeros past its end.
    size_t Consumed() const { return static_cast<size_t>(m_p - m_begin) * 8 + m_past * 16 - m_count; }
    // Skips to the next 16-bit word (nothing when already there).
    void Align() { Skip(static_cast<int>((16 - Consumed() % 16) % 16)); }
    // Leaves bit mode: the next bytes are read whole from byte offset pos.
    bool SeekByte(size_t pos)
    {
        if (pos > static_cast<size_t>(m_end - m_begin))
            return false;
        m_p = m_begin + pos;
        m_acc = 0;
        m_count = 0;
        m_past = 0;
        return true;
    }
    // Bytes left after the reading position (in byte mode).
    size_t Left() const { return static_cast<size_t>(m_end - m_p); }
    const uint8_t* Here() const { return m_p; }
    void Advance(size_t n) { m_p += n; }
    // True when more bits were consumed than the frame holds.
    bool Overrun() const { return Consumed() > static_cast<size_t>(m_end - m_begin) * 8; }

private:
    void Fill(int count)
    {
        while (m_count < count) {
            uint32_t word = 0;
            if (m_end - m_p >= 2) {
                word = uint32_t(m_p[0]) | uint32_t(m_p[1]) << 8;
                m_p += 2;
            } else {
                ++m_past;
            }
            m_acc |= uint64_t(word) << (48 - m_count);
            m_count += 16;
        }
    }

    const uint8_t* m_begin;
    const uint8_t* m_p;
    const uint8_t* m_end;
    uint64_t m_acc = 0; // unread bits, the next one highest
    int m_count = 0;    // unread bits in m_acc
    size_t m_past = 0;  // zero words supplied past the end
};

} // namespace lzx
} // namespace cab32
