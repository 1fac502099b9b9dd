#include "cab32/codec/LzxParser.h"

#include <algorithm>

#include "cab32/codec/Lzx.h"

namespace cab32 {
namespace lzx {

// Enters the positions from inserted up to stop; the last few before dataEnd
// wait until more bytes come.
void LazyParser::Enter(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t stop, uint32_t dataEnd)
{
    for (; inserted < stop && dataEnd - inserted >= HashBuckets::kReadAhead; ++inserted)
        buckets.Insert(w, inserted, dataEnd - inserted);
}

LazyParser::Choice LazyParser::Best(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t pos,
                                    uint32_t end, uint32_t dataEnd, const CostModel& costs, const uint32_t rep[3])
{
    Enter(w, buckets, inserted, pos, dataEnd);
    const uint32_t frameEnd = (pos / kLzxFrameSize + 1) * kLzxFrameSize;
    const uint32_t limit = std::min<uint32_t>(kMaxMatch, std::min(frameEnd, end) - pos);
    Choice best;
    if (limit < kMinMatch)
        return best;
    const uint8_t* cur = w.At(pos);
    for (uint32_t r = 0; r < 3; ++r) {
        if (rep[r] > pos)
            continue;
        const uint32_t n = CommonLength(cur, cur - rep[r], limit);
        if (n < kMinMatch)
            continue;
        const int32_t gain = LiteralBits(pos, n) - static_cast<int32_t>(costs.Length(static_cast<int>(r), n));
        if (gain > best.gain)
            best = {n, r, gain};
    }
    const int found = best.length >= buckets.nice ? 0 : buckets.Find(w, pos, dataEnd - pos, limit, m_found);
    for (int k = 0; k < found; ++k) {
        const uint32_t formatted = m_found[k].offset + 2;
        const int slot = SlotOf(formatted);
        const uint32_t n = m_found[k].length;
        const int32_t gain =
            LiteralBits(pos, n) - static_cast<int32_t>(costs.Length(slot, n) + costs.Offset(slot, formatted));
        if (gain > best.gain)
            best = {n, formatted, gain};
    }
    return best;
}

void LazyParser::Parse(const WindowView& w, HashBuckets& buckets, uint32_t& inserted, uint32_t begin, uint32_t end,
                       uint32_t dataEnd, const CostModel& costs, uint32_t rep[3], std::vector<Item>& items)
{
    items.clear();
    m_begin = begin;
    m_prefix.resize(end - begin + 1);
    m_prefix[0] = 0;
    for (uint32_t i = begin; i < end; ++i)
        m_prefix[i - begin + 1] = m_prefix[i - begin] + static_cast<int32_t>(costs.Literal(*w.At(i)));
    uint32_t pos = begin;
    Choice cur = Best(w, buckets, inserted, pos, end, dataEnd, costs, rep);
    while (pos < end) {
        if (cur.length == 0) {
            items.push_back({0, *w.At(pos)});
            if (++pos < end)
                cur = Best(w, buckets, inserted, pos, end, dataEnd, costs, rep);
            continue;
        }
        const bool frameStartsNext = (pos + 1) % kLzxFrameSize == 0;
        if (cur.length < lazyBelow && pos + 1 < end && !frameStartsNext) {
            const Choice next = Best(w, buckets, inserted, pos + 1, end, dataEnd, costs, rep);
            if (next.gain > cur.gain) {
                items.push_back({0, *w.At(pos)});
                ++pos;
                cur = next;
                continue;
            }
        }
        items.push_back({cur.length, cur.value});
        UpdateReps(rep, items.back());
        // Inside a long match most positions repeat what the buckets hold
        // already: only its first and last few are entered.
        if (cur.length >= kSkipFrom) {
            Enter(w, buckets, inserted, pos + kEdge, dataEnd);
            if (inserted == pos + kEdge)
                inserted = pos + cur.length - kEdge;
        }
        pos += cur.length;
        if (pos < end)
            cur = Best(w, buckets, inserted, pos, end, dataEnd, costs, rep);
    }
}

} // namespace lzx
} // namespace cab32
