// The LZX encoder's match finder: per hash of the next seven bytes, a bucket
// of the eight latest positions with that hash (one cache line: entering a
// position shifts it, a search reads it), plus the latest position sharing
// the next three and the latest sharing the next four bytes (a short match
// pays only when it is near). Entering is cheap, so every position is
// entered and only some are searched.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "cab32/codec/LzxWindow.h"

namespace cab32 {
namespace lzx {

// A match of length bytes at distance offset (1 .. the reach) back.
struct LzMatch
{
    uint32_t length;
    uint32_t offset;
};

// How many bytes at a equal those at b, up to limit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit)
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

class HashBuckets
{
public:
    static constexpr int kWays = 8;              // positions a bucket holds
    static constexpr uint32_t kReadAhead = 8;    // bytes a position needs after it to be entered or searched
    static constexpr int kMostFound = kWays + 2; // matches Find reports at most

    // 2^headBits buckets; matches reach back at most maxOffset (and less than
    // 2^reachBits). The tables of latest positions have 2^nearBits (three
    // bytes) and twice as many (four bytes) entries, none for 0.
    HashBuckets(int reachBits, uint32_t maxOffset, int headBits, int nearBits);

    // Enters pos ('avail' bytes can be read there).
    void Insert(const WindowView& w, uint32_t pos, uint32_t avail)
    {
        if (avail < kReadAhead)
            return;
        const uint8_t* p = w.At(pos);
        // The buckets are too many for the caches: ask for the one needed
        // kAhead positions on while this one is entered.
        if (avail >= kAhead + kReadAhead) {
            const uint8_t* ahead = p + kAhead;
            __builtin_prefetch(&m_head[HashLong(ahead) * kWays], 1);
            if (m_nearShift != 0) {
                __builtin_prefetch(&m_head3[Hash3(ahead)], 1);
                __builtin_prefetch(&m_head4[Hash4(ahead)], 1);
            }
        }
        uint32_t* bucket = &m_head[HashLong(p) * kWays];
        // Through a copy of fixed size, which compilers keep inline (a
        // memmove here became a library call on every position).
        uint32_t old[kWays];
        std::memcpy(old, bucket, sizeof(old));
        std::memcpy(bucket + 1, old, sizeof(old) - sizeof(old[0]));
        bucket[0] = pos + 1;
        if (m_nearShift != 0) {
            m_head3[Hash3(p)] = pos + 1;
            m_head4[Hash4(p)] = pos + 1;
        }
    }
    // Writes the matches at pos to out, each longer than the one before (at
    // most kMostFound): 'avail' bytes can be read at pos, lengths are cut at
    // 'limit'. Every position before pos must have been entered, pos not yet.
    int Find(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out) const;

    int depth = 8;      // bucket entries tried at most per search (kWays at most)
    uint32_t nice = 48; // a match this long ends the search
    uint32_t good = 24; // after a match this long, a quarter of the depth is left at most

private:
    // A hash of the seven bytes at p.
    uint32_t HashLong(const uint8_t* p) const
    {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return static_cast<uint32_t>(((v << 8) * 0x9E3779B97F4A7C15ull) >> m_headShift);
    }
    uint32_t Hash4(const uint8_t* p) const
    {
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        return (v * 2654435761u) >> (m_nearShift - 1);
    }
    uint32_t Hash3(const uint8_t* p) const
    {
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        return (v * 2654435761u) >> m_nearShift;
    }

    static constexpr uint32_t kAhead = 16; // positions between a bucket's prefetch and its use
    int m_headShift;                       // 64 - head bits
    int m_nearShift;                       // 32 - near bits, 0 for no tables of latest positions

    uint32_t m_reach;              // the farthest a match reaches back
    std::vector<uint32_t> m_head;  // per seven-byte hash: kWays latest offsets + 1, newest first, 0 for none
    std::vector<uint32_t> m_head3; // per three-byte hash: the latest offset + 1
    std::vector<uint32_t> m_head4; // per four-byte hash: the latest offset + 1
};

} // namespace lzx
} // namespace cab32
