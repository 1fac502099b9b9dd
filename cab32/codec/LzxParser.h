// The LZX encoder's parse (the default): at each position the match that
// saves the most bits against literals, priced by a CostModel (the codes of
// the block written last), is taken unless the next position offers one that
// saves more. The repeated offsets are tried first, at their true low price.
#pragma once

#include <cstdint>
#include <vector>

#include "cab32/codec/LzxBlockCodes.h"
#include "cab32/codec/LzxMatchFinder.h"

namespace cab32 {
namespace lzx {

class LazyParser
{
public:
    uint32_t lazyBelow = 16; // a match shorter than this is weighed against the next position's

    // Parses stream offsets [begin, end) into items; rep holds the repeated
    // offsets at begin and gets those at end. Positions from 'inserted' on
    // enter the buckets as the parse passes them (the bytes up to dataEnd
    // can be read; the last few before it wait for more). No match crosses a
    // frame's end or end.
    void Parse(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t begin, uint32_t end,
               uint32_t dataEnd, const CostModel& costs, uint32_t rep[3], std::vector<Item>& items);

private:
    // A candidate and the bits it saves against literals.
    struct Choice
    {
        uint32_t length = 0; // 0: literals are cheaper
        uint32_t value = 0;  // as Item::value
        int32_t gain = 0;
    };
    Choice Best(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t pos, uint32_t end,
                uint32_t dataEnd, const CostModel& costs, const uint32_t rep[3]);
    static void Enter(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t stop, uint32_t dataEnd);
    static constexpr uint32_t kSkipFrom = 64; // matches this long enter only their edges
    static constexpr uint32_t kEdge = 8;      // positions entered at each end of such a match

    // Bits the n bytes at stream offset pos would cost as literals.
    int32_t LiteralBits(uint32_t pos, uint32_t n) const
    {
        return m_prefix[pos + n - m_begin] - m_prefix[pos - m_begin];
    }

    LzMatch m_found[HashBuckets::kMostFound]; // the search's matches
    uint32_t m_begin = 0;                     // stream offset of the parse's first byte
    std::vector<int32_t> m_prefix;            // literal bits of the bytes from m_begin up to each offset
};

} // namespace lzx
} // namespace cab32
