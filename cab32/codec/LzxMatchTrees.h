// The least-cost parse's match finder: binary trees over three-byte
// prefixes. Each hash bucket holds a search tree of the earlier positions
// with that prefix, ordered by the bytes that follow; entering a position
// walks the tree from its root and meets the candidates sharing the longest
// prefixes on the way, so one walk both finds the matches and keeps the tree
// sorted. The matches of a whole stretch are found once and kept
// (MatchCache) for every pass of the parse.
#pragma once

#include <cstdint>
#include <vector>

#include "cab32/codec/LzxMatchFinder.h"
#include "cab32/codec/LzxWindow.h"

namespace cab32 {
namespace lzx {

// The matches of each position of a stretch of the stream.
class MatchCache
{
public:
    // Empties the cache for a stretch that starts at stream offset start.
    void Reset(uint32_t start);
    // Room for the next position's matches (at most 'most').
    LzMatch* Room(int most);
    // The next position had 'count' of its room's matches.
    void Commit(int count);
    // The matches of stream offset pos (in the stretch), longest last.
    const LzMatch* At(uint32_t pos, int& count) const
    {
        const uint32_t i = pos - m_start;
        count = static_cast<int>(m_first[i + 1] - m_first[i]);
        return m_matches.data() + m_first[i];
    }

private:
    uint32_t m_start = 0;
    std::vector<LzMatch> m_matches; // every position's matches, one after another
    std::vector<uint32_t> m_first;  // per position: its first match's index (one more entry at the end)
};

class MatchTrees
{
public:
    // Trees over the last 2^reachBits positions; matches reach back at most
    // maxOffset (and less than 2^reachBits).
    MatchTrees(int reachBits, uint32_t maxOffset);

    // Enters pos and writes its matches to out, longest last, each longer
    // than the one before (at most 'depth' of them): 'avail' bytes can be read
    // at pos, lengths are cut at 'limit'. A match as long as 'nice' ends the
    // walk. Returns how many were written.
    int Find(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out);
    // Enters pos without reporting matches.
    void Skip(const WindowView& w, uint32_t pos, uint32_t avail);
    // Fills the cache with the matches of stream offsets [begin, end) (no
    // match crossing a frame's end), entering every position from inserted
    // on that has three bytes to read (the rest wait for the next stretch);
    // positions inside a match of 'nice' bytes are entered without a search.
    void FindStretch(const WindowView& w, uint32_t& inserted, uint32_t begin, uint32_t end, MatchCache& cache);

    int depth = 16;     // tree nodes visited at most per position
    uint32_t nice = 64; // a match this long ends the walk

private:
    int Walk(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out, int depthLeft);

    uint32_t m_mask;              // node slots - 1
    uint32_t m_reach;             // the farthest a match reaches back
    std::vector<uint32_t> m_head; // per hash: the root's offset + 1, 0 for none
    std::vector<uint32_t> m_less; // per slot: the subtree of smaller strings (offset + 1)
    std::vector<uint32_t> m_more; // per slot: the subtree of larger strings (offset + 1)
};

} // namespace lzx
} // namespace cab32
