// The LZX encoder's window: the folder's bytes as the encoder holds them, the
// last window of history followed by the block being filled, each byte
// addressed by its offset in the folder's stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cab32 {
namespace lzx {

class Window
{
public:
    Window(uint32_t windowSize, uint32_t blockBytes)
        : m_windowSize(windowSize), m_blockBytes(blockBytes), m_buf(windowSize + blockBytes)
    {}

    const uint8_t* At(uint32_t pos) const { return m_buf.data() + (pos - m_base); }
    uint8_t* At(uint32_t pos) { return m_buf.data() + (pos - m_base); }
    uint32_t WindowSize() const { return m_windowSize; }
    // Stream offset just past the bytes written so far.
    uint32_t End() const { return m_end; }
    // Stream offset of the block being filled.
    uint32_t BlockStart() const { return m_blockStart; }
    bool BlockFull() const { return m_end - m_blockStart == m_blockBytes; }

    // Copies up to len bytes into the block being filled; returns how many it took.
    uint32_t Append(const uint8_t* data, size_t len)
    {
        const uint32_t take = static_cast<uint32_t>(std::min<size_t>(len, m_blockStart + m_blockBytes - m_end));
        std::memcpy(At(m_end), data, take);
        m_end += take;
        return take;
    }

    // The block is coded: the next one starts where it ended, the last window
    // of history moved to the front when there is no room for a whole block.
    void NextBlock()
    {
        m_blockStart = m_end;
        if (m_blockStart - m_base + m_blockBytes <= m_buf.size())
            return;
        const uint32_t keep = std::min(m_windowSize, m_blockStart - m_base);
        std::memmove(m_buf.data(), At(m_blockStart - keep), keep);
        m_base = m_blockStart - keep;
    }

private:
    uint32_t m_windowSize;
    uint32_t m_blockBytes;
    std::vector<uint8_t> m_buf; // history (up to the window) and the block being filled
    uint32_t m_base = 0;        // stream offset of m_buf[0]
    uint32_t m_end = 0;         // stream offset just past the bytes written so far
    uint32_t m_blockStart = 0;  // stream offset of the block being filled
};

} // namespace lzx
} // namespace cab32
