// The LZX encoder's least-cost parse (an option: smaller, ten times slower
// than the lazy one): the matches found at each position are kept
// (MatchCache), and the parse is a shortest path through the block's positions, each step priced in bits by
// a CostModel. The repeated offsets (R0..R2) along the cheapest path to a
// position are the ones tried there, so a match that reuses an offset is
// seen at its true, low price. A match of 'nice' bytes or more is taken
// without weighing the positions it covers.
#pragma once

#include <cstdint>
#include <vector>

#include "cab32/codec/LzxBlockCodes.h"
#include "cab32/codec/LzxMatchTrees.h"

namespace cab32 {
namespace lzx {

class LeastCostParser
{
public:
    uint32_t nice = 64;      // a match this long is taken at once
    bool everyLength = true; // weigh every length of a match, not only its longest

    // The cheapest items for stream offsets [begin, end) under costs; rep
    // holds the repeated offsets at begin and gets those at end. No match
    // crosses a frame boundary or end.
    void Parse(const WindowView& w, const MatchCache& cache, uint32_t begin, uint32_t end, const CostModel& costs,
               uint32_t rep[3], std::vector<Item>& items);

private:
    // The cheapest way found so far to reach a position.
    struct Node
    {
        uint32_t cost;   // bits from the block's start
        Item last;       // the item that arrives here
        uint32_t rep[3]; // repeated offsets here (set when the position is visited)
    };

    void Relax(uint32_t to, uint32_t cost, uint32_t length, uint32_t value)
    {
        Node& n = m_nodes[to];
        if (cost < n.cost)
            n = {cost, {length, value}, {}};
    }
    // Steps from position i (stream offset pos); returns how far the next
    // visited position is (more than one past a long match).
    uint32_t Visit(const WindowView& w, const MatchCache& cache, uint32_t i, uint32_t pos, uint32_t limit,
                   const CostModel& costs);
    uint32_t VisitRepeats(const uint8_t* cur, uint32_t i, uint32_t pos, uint32_t limit, const CostModel& costs);
    void Trace(uint32_t n, std::vector<Item>& items) const;

    std::vector<Node> m_nodes;
};

} // namespace lzx
} // namespace cab32
