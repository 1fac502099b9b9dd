// Where an LZX block should end: a stretch's parse is cut into pieces of
// about 'pieceBytes', and blocks are the runs of pieces whose symbols, coded
// with one set of trees, cost least (the entropy of the run's symbol counts
// plus an estimate of its trees), so a block ends where the statistics shift,
// at any item, inside a frame or not. The costs are integers (bits in units
// of 2^-16): the same on every compiler and C library, as the bytes must be.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "cab32/codec/LzxBlockCodes.h"

namespace cab32 {
namespace lzx {

class BlockSplitter
{
public:
    explicit BlockSplitter(int mainSymbols);

    // The item counts of the blocks that code items[0..n) at the least
    // estimated cost, in order (they add up to n). The result stays valid
    // until the next call; nothing is allocated once the storage has grown.
    const std::vector<size_t>& Split(const Item* items, size_t n, uint32_t pieceBytes);

private:
    // One piece: its items, and its symbols counted as (symbol, count)
    // pairs m_pairs[first, end); the length tree's symbols follow the main
    // tree's.
    struct Piece
    {
        size_t items;
        size_t first;
        size_t end;
    };
    void CutPieces(const Item* items, size_t n, uint32_t pieceBytes);
    // Whether cutting at a quarter, half or three quarters of the pieces
    // would cost less than one block: the full search runs only then.
    bool AnyCutPays();
    // The estimated cost of each run of pieces starting at 'first'.
    void RunCosts(size_t first, std::vector<int64_t>& cost);
    // The least-cost runs, as item counts into m_blocks.
    void Search();

    // n * log2(n) in units of 2^-16, from a table for small n.
    int64_t NLogN(uint32_t n) const { return n < kNLogNTable ? m_nLogN[n] : FixedNLogN(n); }
    static int64_t FixedNLogN(uint32_t n);
    static constexpr uint32_t kNLogNTable = 4096;

    int m_mainSymbols;
    std::vector<int64_t> m_nLogN; // NLogN's table
    std::vector<Piece> m_pieces;
    std::vector<std::pair<uint16_t, uint32_t>> m_pairs; // every piece's counted symbols
    std::vector<uint32_t> m_counts;                     // scratch: counts per symbol
    std::vector<uint16_t> m_touched;                    // scratch: symbols counted in m_counts
    std::vector<int64_t> m_whole, m_rest, m_best;       // scratch: run costs, the search's best costs
    std::vector<size_t> m_from;                         // scratch: where the best run to each piece starts
    std::vector<size_t> m_blocks;                       // the last result
};

} // namespace lzx
} // namespace cab32
