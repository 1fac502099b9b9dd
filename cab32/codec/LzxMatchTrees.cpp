#include "cab32/codec/LzxMatchTrees.h"

#include <algorithm>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

namespace {

constexpr int kHashBits = 16;

inline uint32_t Hash3(const uint8_t* p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

} // namespace

void MatchCache::Reset(uint32_t start)
{
    m_start = start;
    m_matches.clear();
    m_first.assign(1, 0);
}

LzMatch* MatchCache::Room(int most)
{
    const size_t at = m_first.back();
    if (m_matches.size() < at + static_cast<size_t>(most))
        m_matches.resize(std::max(at + static_cast<size_t>(most), m_matches.size() * 2));
    return m_matches.data() + at;
}

void MatchCache::Commit(int count)
{
    m_first.push_back(m_first.back() + static_cast<uint32_t>(count));
}

MatchTrees::MatchTrees(int reachBits, uint32_t maxOffset)
    : m_mask((1u << reachBits) - 1), m_reach(std::min(maxOffset, m_mask)), m_head(1u << kHashBits, 0),
      m_less(1u << reachBits, 0), m_more(1u << reachBits, 0)
{}

void MatchTrees::FindStretch(const WindowView& w, uint32_t& inserted, uint32_t begin, uint32_t end, MatchCache& cache)
{
    for (; inserted < begin && end - inserted >= 3; ++inserted)
        Skip(w, inserted, end - inserted);
    cache.Reset(begin);
    uint32_t skipUntil = begin;
    for (uint32_t pos = begin; pos < end; ++pos) {
        const uint32_t avail = end - pos;
        const uint32_t frameEnd = (pos / kLzxFrameSize + 1) * kLzxFrameSize;
        const uint32_t limit = std::min<uint32_t>(kMaxMatch, std::min(frameEnd, end) - pos);
        if (avail >= 3)
            inserted = pos + 1;
        if (pos < skipUntil) {
            Skip(w, pos, avail);
            cache.Commit(0);
            continue;
        }
        LzMatch* room = cache.Room(depth);
        const int n = Find(w, pos, avail, limit, room);
        cache.Commit(n);
        if (n > 0 && room[n - 1].length >= nice)
            skipUntil = pos + room[n - 1].length;
    }
}

int MatchTrees::Find(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out)
{
    return Walk(w, pos, avail, limit, out, depth);
}

void MatchTrees::Skip(const WindowView& w, uint32_t pos, uint32_t avail)
{
    Walk(w, pos, avail, 0, nullptr, depth / 2 + 1);
}

// Makes pos the root of its bucket's tree: every candidate met on the way
// down goes to pos's smaller or larger side, so the tree stays ordered. The
// strings compare up to 'nice' bytes (or what can be read); a candidate equal
// that far is replaced by pos, whose subtrees it hands over.
int MatchTrees::Walk(const WindowView& w, uint32_t pos, uint32_t avail, uint32_t limit, LzMatch* out, int depthLeft)
{
    if (avail < 3)
        return 0;
    const uint8_t* cur = w.At(pos);
    const uint32_t treeLimit = std::min(avail, nice);
    const uint32_t minPos = pos > m_reach ? pos - m_reach : 0;
    uint32_t* head = &m_head[Hash3(cur)];
    uint32_t cand = *head;
    *head = pos + 1;
    uint32_t* lessLink = &m_less[pos & m_mask];
    uint32_t* moreLink = &m_more[pos & m_mask];
    uint32_t lessLen = 0, moreLen = 0, best = 2;
    int found = 0;
    for (; cand != 0 && cand - 1 >= minPos && depthLeft > 0; --depthLeft) {
        const uint32_t c = cand - 1;
        const uint8_t* m = w.At(c);
        uint32_t len = std::min(lessLen, moreLen);
        if (m[len] == cur[len]) {
            len += 1 + CommonLength(cur + len + 1, m + len + 1, treeLimit - len - 1);
            if (out && len > best && best < limit) {
                best = len;
                out[found++] = {std::min(len, limit), pos - c};
            }
            if (len >= treeLimit) {
                *lessLink = m_less[c & m_mask];
                *moreLink = m_more[c & m_mask];
                return found;
            }
        }
        if (m[len] < cur[len]) {
            *lessLink = cand;
            lessLink = &m_more[c & m_mask];
            cand = *lessLink;
            lessLen = len;
        } else {
            *moreLink = cand;
            moreLink = &m_less[c & m_mask];
            cand = *moreLink;
            moreLen = len;
        }
    }
    *lessLink = 0;
    *moreLink = 0;
    return found;
}

} // namespace lzx
} // namespace cab32
