// The LZX encoder's match finder: hash chains over three-byte prefixes of the
// window, and the repeated offsets tried first. Each candidate is scored in
// rough bits saved against literals, so a short match far away loses to
// literals and a repeated offset wins over an equally long new one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxCommon.h"
#include "cab32/codec/LzxWindow.h"

namespace cab32 {
namespace lzx {

constexpr int kHashBits = 16;
constexpr int kLiteralBits = 6;     // rough cost of a literal in scores
constexpr int kMatchSymbolBits = 8; // rough cost of a match's main symbol
constexpr int kRepSymbolBits = 6;   // a repeated offset's main symbol, no extra bits

// The hash of the three bytes at p.
inline uint32_t Hash3(const uint8_t* p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

// How many bytes at a equal those at b, up to limit.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// A match the parse may take.
struct Match
{
    uint32_t length = 0; // 0: none worth taking
    uint32_t code = 0;   // as Item::value: a repeated offset's index, or the formatted offset
    int score = 0;       // rough bits saved against literals
};

class MatchFinder
{
public:
    MatchFinder(const Window& window, int windowBits, const LzxOptions& options);

    // The best match at pos, within its frame (none when literals are
    // cheaper), the repeated offsets being reps; enters pos and every skipped
    // offset before it into the hash chains. The last two bytes written so far
    // wait: their three-byte prefix is known only with the next bytes.
    Match Find(uint32_t pos, const uint32_t reps[3]);

private:
    void Insert(uint32_t pos);
    // The longest match the chain of pos's prefix offers, if it beats best.
    void SearchChain(uint32_t pos, uint32_t limit, Match& best);

    const Window& m_window;
    int m_chainDepth;             // candidates tried per position
    uint32_t m_niceLength;        // a match this long ends the search
    uint32_t m_maxOffset;         // the largest match offset (see kLzxOffsetReserve)
    std::vector<uint32_t> m_head; // per hash: latest offset + 1, 0 for none
    uint32_t m_chainSize;         // entries of m_prev: the chains reach this far back (at most the window)
    std::vector<uint32_t> m_prev; // per offset modulo m_chainSize: the previous offset + 1 with its hash
    uint32_t m_inserted = 0;      // next stream offset to enter the hash chains
};

// Find and what it calls run at every position: they live here, so that the
// compiler can make them one function.
inline void MatchFinder::Insert(uint32_t pos)
{
    const uint32_t h = Hash3(m_window.At(pos));
    m_prev[pos & (m_chainSize - 1)] = m_head[h];
    m_head[h] = pos + 1;
}

inline void MatchFinder::SearchChain(uint32_t pos, uint32_t limit, Match& best)
{
    if (limit < 3 || pos + 2 >= m_window.End())
        return;
    const uint8_t* cur = m_window.At(pos);
    // A link older than the chains' size may have been overwritten by a newer position.
    const uint32_t reach = std::min(m_maxOffset, m_chainSize);
    const uint32_t minPos = pos > reach ? pos - reach : 0;
    const uint32_t nice = std::min(limit, m_niceLength);
    uint32_t length = 2;
    uint32_t offset = 0;
    uint32_t cand = m_head[Hash3(cur)];
    for (int depth = m_chainDepth; cand != 0 && depth > 0; --depth) {
        const uint32_t c = cand - 1;
        if (c < minPos)
            break;
        const uint8_t* m = m_window.At(c);
        if (m[length] == cur[length]) {
            const uint32_t n = MatchLength(cur, m, limit);
            if (n > length) {
                length = n;
                offset = pos - c;
                if (n >= nice)
                    break;
            }
        }
        cand = m_prev[c & (m_chainSize - 1)];
    }
    if (offset == 0)
        return;
    const int extra = ExtraBits(SlotOf(offset + 2));
    const int score = kLiteralBits * static_cast<int>(length) - kMatchSymbolBits - extra;
    if (score > best.score)
        best = {length, offset + 2, score};
}

inline Match MatchFinder::Find(uint32_t pos, const uint32_t reps[3])
{
    const uint32_t end = m_window.End();
    const uint32_t hashable = end - std::min<uint32_t>(end, 2);
    for (; m_inserted < pos && m_inserted < hashable; ++m_inserted)
        Insert(m_inserted);
    const uint32_t frameEnd = std::min(end, (pos / kLzxFrameSize + 1) * kLzxFrameSize);
    const uint32_t limit = std::min<uint32_t>(kMaxMatch, frameEnd - pos);
    Match best;
    if (limit >= 2) {
        const uint8_t* cur = m_window.At(pos);
        for (uint32_t r = 0; r < 3; ++r) {
            const uint32_t off = reps[r];
            if (off > pos || off > m_maxOffset)
                continue;
            const uint32_t n = MatchLength(cur, cur - off, limit);
            const int score = kLiteralBits * static_cast<int>(n) - kRepSymbolBits - static_cast<int>(r);
            if (n >= 2 && score > best.score)
                best = {n, r, score};
        }
        if (best.length < m_niceLength)
            SearchChain(pos, limit, best);
    }
    if (m_inserted == pos && pos < hashable) {
        Insert(pos);
        m_inserted = pos + 1;
    }
    return best;
}

} // namespace lzx
} // namespace cab32
