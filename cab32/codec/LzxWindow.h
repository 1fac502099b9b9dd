// The LZX encoder's window: the folder's bytes as the encoder holds them, the
// last window of history followed by the stretch being filled (the frames
// parsed together), each byte addressed by its offset in the folder's stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace cab32 {
namespace lzx {

// The bytes a match finder or parse reads: stream offset p is at base[p - baseOffset].
struct WindowView
{
    const uint8_t* base;
    uint32_t baseOffset;
    const uint8_t* At(uint32_t pos) const { return base + (pos - baseOffset); }
};

class Window
{
public:
    Window(uint32_t windowSize, uint32_t stretchBytes)
        : m_windowSize(windowSize), m_stretchBytes(stretchBytes), m_buf(windowSize + stretchBytes)
    {}

    const uint8_t* At(uint32_t pos) const { return m_buf.data() + (pos - m_base); }
    uint8_t* At(uint32_t pos) { return m_buf.data() + (pos - m_base); }
    WindowView View() const { return {m_buf.data(), m_base}; }
    uint32_t WindowSize() const { return m_windowSize; }
    // Stream offset just past the bytes written so far.
    uint32_t End() const { return m_end; }
    // Stream offset of the stretch being filled.
    uint32_t StretchStart() const { return m_stretchStart; }
    bool StretchFull() const { return m_end - m_stretchStart == m_stretchBytes; }

    // Copies up to len bytes into the stretch being filled; returns how many it took.
    uint32_t Append(const uint8_t* data, size_t len)
    {
        const uint32_t take = static_cast<uint32_t>(std::min<size_t>(len, m_stretchStart + m_stretchBytes - m_end));
        std::memcpy(At(m_end), data, take);
        m_end += take;
        return take;
    }

    // The stretch is coded: the next one starts where it ended, the last
    // window of history moved to the front when there is no room for a whole
    // stretch.
    void NextStretch()
    {
        m_stretchStart = m_end;
        if (m_stretchStart - m_base + m_stretchBytes <= m_buf.size())
            return;
        const uint32_t keep = std::min(m_windowSize, m_stretchStart - m_base);
        std::memmove(m_buf.data(), At(m_stretchStart - keep), keep);
        m_base = m_stretchStart - keep;
    }

private:
    uint32_t m_windowSize;
    uint32_t m_stretchBytes;
    std::vector<uint8_t> m_buf;  // history (up to the window) and the stretch being filled
    uint32_t m_base = 0;         // stream offset of m_buf[0]
    uint32_t m_end = 0;          // stream offset just past the bytes written so far
    uint32_t m_stretchStart = 0; // stream offset of the stretch being filled
};

} // namespace lzx
} // namespace cab32
