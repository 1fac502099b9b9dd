// Decoding canonical Huffman codes (the LZX trees) from a frame's bits.
#pragma once

#include <cstdint>

#include "cab32/codec/LzxBitReader.h"
#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

// A canonical Huffman code ready for decoding: a table of the first 10 bits,
// then a walk over the longer lengths.
class HuffmanDecoder
{
public:
    // False when the lengths are not a complete code (or, unless mayBeEmpty, all zero).
    bool Build(const uint8_t* lengths, int count, bool mayBeEmpty);
    // The next symbol, or -1 when the code is empty.
    int Decode(BitReader& bits) const
    {
        const uint32_t v = bits.Peek(kMaxCodeLength);
        const uint16_t e = m_fast[v >> (kMaxCodeLength - kFastBits)];
        if (e != 0) {
            bits.Skip(e >> 12);
            return e & 0x0FFF;
        }
        for (int len = kFastBits + 1; len <= kMaxCodeLength; ++len) {
            const uint32_t c = (v >> (kMaxCodeLength - len)) - m_first[len];
            if (c < m_count[len]) {
                bits.Skip(len);
                return m_sorted[m_offset[len] + c];
            }
        }
        return -1;
    }

private:
    static constexpr int kFastBits = 10;
    uint16_t m_fast[1 << kFastBits] = {};       // symbol | length << 12; 0 for longer codes
    uint32_t m_first[kMaxCodeLength + 1] = {};  // first code of each length
    uint32_t m_count[kMaxCodeLength + 1] = {};  // codes of each length
    uint32_t m_offset[kMaxCodeLength + 1] = {}; // index in m_sorted of each length's first symbol
    uint16_t m_sorted[kMaxMainSymbols] = {};    // symbols by code
};

} // namespace lzx
} // namespace cab32
