#include "cab32/codec/LzxLeastCost.h"

#include <algorithm>
#include <climits>

#include "cab32/codec/Lzx.h"

namespace cab32 {
namespace lzx {

namespace {

// The repeated offsets after an item, from those before it.
void NextRepeats(const uint32_t in[3], const Item& it, uint32_t out[3])
{
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    UpdateReps(out, it);
}

} // namespace

void LeastCostParser::Parse(const WindowView& w, const MatchCache& cache, uint32_t begin, uint32_t end,
                            const CostModel& costs, uint32_t rep[3], std::vector<Item>& items)
{
    const uint32_t n = end - begin;
    m_nodes.resize(n + 1);
    for (uint32_t i = 1; i <= n; ++i)
        m_nodes[i].cost = UINT32_MAX;
    m_nodes[0] = {0, {0, 0}, {rep[0], rep[1], rep[2]}};
    for (uint32_t i = 0; i < n;) {
        const uint32_t pos = begin + i;
        if (i > 0) {
            const Node& at = m_nodes[i];
            const uint32_t back = at.last.length ? at.last.length : 1;
            NextRepeats(m_nodes[i - back].rep, at.last, m_nodes[i].rep);
        }
        const uint32_t frameEnd = (pos / kLzxFrameSize + 1) * kLzxFrameSize;
        const uint32_t limit = std::min<uint32_t>(kMaxMatch, std::min(frameEnd, end) - pos);
        i += Visit(w, cache, i, pos, limit, costs);
    }
    const Node& last = m_nodes[n];
    const uint32_t back = last.last.length ? last.last.length : 1;
    NextRepeats(m_nodes[n - back].rep, last.last, rep);
    Trace(n, items);
}

uint32_t LeastCostParser::Visit(const WindowView& w, const MatchCache& cache, uint32_t i, uint32_t pos, uint32_t limit,
                                const CostModel& costs)
{
    const uint8_t* cur = w.At(pos);
    const uint32_t base = m_nodes[i].cost;
    Relax(i + 1, base + costs.Literal(*cur), 0, *cur);
    if (limit < kMinMatch)
        return 1;
    const uint32_t jump = VisitRepeats(cur, i, pos, limit, costs);
    if (jump > 1)
        return jump;
    int count = 0;
    const LzMatch* m = cache.At(pos, count);
    if (count == 0)
        return 1;
    const uint32_t longest = std::min(m[count - 1].length, limit);
    if (longest >= nice) {
        const uint32_t formatted = m[count - 1].offset + 2;
        const int slot = SlotOf(formatted);
        Relax(i + longest, base + costs.Length(slot, longest) + costs.Offset(slot, formatted), longest, formatted);
        return longest;
    }
    uint32_t from = kMinMatch + 1;
    for (int k = 0; k < count && from <= limit; ++k) {
        const uint32_t formatted = m[k].offset + 2;
        const int slot = SlotOf(formatted);
        const uint32_t offsetCost = base + costs.Offset(slot, formatted);
        const uint32_t to = std::min(m[k].length, limit);
        if (to < from)
            break;
        if (!everyLength)
            from = to;
        for (uint32_t l = from; l <= to; ++l)
            Relax(i + l, offsetCost + costs.Length(slot, l), l, formatted);
        from = to + 1;
    }
    return 1;
}

// Steps by matches at the repeated offsets in force at position i; returns
// the length of one at least 'nice' long (taken alone), else 1.
uint32_t LeastCostParser::VisitRepeats(const uint8_t* cur, uint32_t i, uint32_t pos, uint32_t limit,
                                       const CostModel& costs)
{
    const uint32_t* rep = m_nodes[i].rep;
    const uint32_t base = m_nodes[i].cost;
    for (uint32_t r = 0; r < 3; ++r) {
        const uint32_t off = rep[r];
        if (off > pos || (r > 0 && off == rep[0]) || (r == 2 && off == rep[1]))
            continue;
        const uint32_t len = CommonLength(cur, cur - off, limit);
        if (len < kMinMatch)
            continue;
        if (len >= nice) {
            Relax(i + len, base + costs.Length(static_cast<int>(r), len), len, r);
            return len;
        }
        for (uint32_t l = everyLength ? kMinMatch : len; l <= len; ++l)
            Relax(i + l, base + costs.Length(static_cast<int>(r), l), l, r);
    }
    return 1;
}

void LeastCostParser::Trace(uint32_t n, std::vector<Item>& items) const
{
    items.clear();
    for (uint32_t i = n; i > 0;) {
        const Item& it = m_nodes[i].last;
        items.push_back(it);
        i -= it.length ? it.length : 1;
    }
    std::reverse(items.begin(), items.end());
}

} // namespace lzx
} // namespace cab32
