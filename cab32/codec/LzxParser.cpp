#include "cab32/codec/LzxParser.h"

namespace cab32 {
namespace lzx {

void ParseLazily(const Window& window, MatchFinder& finder, uint32_t niceLength, uint32_t reps[3],
                 std::vector<Item>& items)
{
    items.clear();
    const uint32_t end = window.End();
    uint32_t pos = window.BlockStart();
    Match cur = finder.Find(pos, reps);
    while (pos < end) {
        if (cur.length == 0) {
            items.push_back({0, *window.At(pos)});
            if (++pos < end)
                cur = finder.Find(pos, reps);
            continue;
        }
        const bool frameStartsNext = (pos + 1) % kLzxFrameSize == 0;
        if (cur.length < niceLength && pos + 1 < end && !frameStartsNext) {
            const Match next = finder.Find(pos + 1, reps);
            if (next.score > cur.score) {
                items.push_back({0, *window.At(pos)});
                ++pos;
                cur = next;
                continue;
            }
        }
        items.push_back({cur.length, cur.code});
        UpdateReps(reps, items.back());
        pos += cur.length;
        if (pos < end)
            cur = finder.Find(pos, reps);
    }
}

} // namespace lzx
} // namespace cab32
