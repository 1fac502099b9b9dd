#include "cab32/codec/LzxMatchFinder.h"

#include <algorithm>

namespace cab32 {
namespace lzx {

HashBuckets::HashBuckets(int reachBits, uint32_t maxOffset, int headBits, int nearBits)
    : m_headShift(64 - headBits), m_nearShift(nearBits > 0 ? 32 - nearBits : 0),
      m_reach(std::min(maxOffset, (1u << reachBits) - 1)), m_head(size_t(kWays) << headBits, 0),
      m_head3(nearBits > 0 ? 1u << nearBits : 0, 0), m_head4(nearBits > 0 ? 2u << nearBits : 0, 0)
{}

int HashBuckets::Find(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out) const
{
    if (avail < kReadAhead || limit < 3)
        return 0;
    const uint8_t* cur = w.At(pos);
    const uint32_t minPos = pos > m_reach ? pos - m_reach : 0;
    const uint32_t most = std::min(limit, nice);
    int found = 0;
    uint32_t best = 2;
    const uint32_t near = m_nearShift ? m_head3[Hash3(cur)] : 0;
    if (near != 0 && near - 1 >= minPos) {
        const uint32_t n = CommonLength(cur, w.At(near - 1), limit);
        if (n >= 3) {
            out[found++] = {n, pos - (near - 1)};
            best = n;
        }
    }
    const uint32_t near4 = m_nearShift ? m_head4[Hash4(cur)] : 0;
    if (near4 != 0 && near4 - 1 >= minPos && near4 != near) {
        const uint32_t n = CommonLength(cur, w.At(near4 - 1), limit);
        if (n > best) {
            out[found++] = {n, pos - (near4 - 1)};
            best = n;
        }
    }
    const uint32_t* bucket = &m_head[HashLong(cur) * kWays];
    const int ways = std::min(depth, kWays);
    for (int k = 0, left = ways; k < ways && bucket[k] != 0 && best < most && left > 0; ++k, --left) {
        const uint32_t c = bucket[k] - 1; // newest first: the first out of reach ends the search
        if (c < minPos)
            break;
        const uint8_t* m = w.At(c);
        if (m[best] == cur[best] && m[0] == cur[0]) {
            const uint32_t n = CommonLength(cur, m, limit);
            if (n > best) {
                best = n;
                out[found++] = {n, pos - c};
                // A good match found: the rest of the bucket seldom pays for its search.
                if (n >= good && left > ways / 4)
                    left = ways / 4;
            }
        }
    }
    return found;
}

} // namespace lzx
} // namespace cab32
