#include "cab32/codec/LzxBlockSplitter.h"

#include <algorithm>
#include <climits>

namespace cab32 {
namespace lzx {

namespace {

constexpr int kFraction = 16;                                       // bits of a cost below the bit
constexpr int64_t kBlockHeaderBits = (32 + 3 * kPretreeSymbols * 4) // type, size and the three pretrees
                                     << kFraction;
constexpr int64_t kBitsPerTreeSymbol = 9 << (kFraction - 1); // 4.5: a used symbol's length, sent as a pretree delta

// log2(n) in units of 2^-16 (n at least 1), by squaring the mantissa: one
// bit of the fraction a step, in integers only.
int64_t FixedLog2(uint32_t n)
{
    const int whole = 31 - __builtin_clz(n);
    uint64_t m =
        uint64_t(n) << (30 - std::min(whole, 30)) >> std::max(whole - 30, 0); // n / 2^whole, 30 bits below the point
    int64_t log = int64_t(whole) << kFraction;
    for (int bit = kFraction - 1; bit >= 0; --bit) {
        m = (m * m) >> 30;
        if (m >= (uint64_t(2) << 30)) {
            m >>= 1;
            log |= int64_t(1) << bit;
        }
    }
    return log;
}

} // namespace

int64_t BlockSplitter::FixedNLogN(uint32_t n)
{
    return n == 0 ? 0 : int64_t(n) * FixedLog2(n);
}

BlockSplitter::BlockSplitter(int mainSymbols) : m_mainSymbols(mainSymbols), m_nLogN(kNLogNTable)
{
    for (uint32_t i = 0; i < kNLogNTable; ++i)
        m_nLogN[i] = FixedNLogN(i);
}

void BlockSplitter::CutPieces(const Item* items, size_t n, uint32_t pieceBytes)
{
    m_pieces.clear();
    m_pairs.clear();
    m_counts.assign(static_cast<size_t>(m_mainSymbols + kSecondaryLengths), 0);
    for (size_t i = 0; i < n;) {
        Piece piece{0, m_pairs.size(), 0};
        m_touched.clear();
        for (uint32_t bytes = 0; i < n && bytes < pieceBytes; ++i, ++piece.items) {
            const Item& it = items[i];
            bytes += it.length ? it.length : 1;
            const uint32_t s = it.length ? MatchSymbol(SlotOfValue(it.value), it.length) : it.value;
            if (m_counts[s]++ == 0)
                m_touched.push_back(static_cast<uint16_t>(s));
            if (it.length >= kMinMatch + kPrimaryLengths) {
                const uint32_t l = static_cast<uint32_t>(m_mainSymbols) + it.length - kMinMatch - kPrimaryLengths;
                if (m_counts[l]++ == 0)
                    m_touched.push_back(static_cast<uint16_t>(l));
            }
        }
        for (uint16_t t : m_touched) {
            m_pairs.push_back({t, m_counts[t]});
            m_counts[t] = 0;
        }
        piece.end = m_pairs.size();
        m_pieces.push_back(piece);
    }
}

// A run's cost: its symbols at their entropy (total log total less the sum
// of count log count, per tree), a block header and each used symbol's length.
void BlockSplitter::RunCosts(size_t first, std::vector<int64_t>& cost)
{
    int64_t sumMain = 0, sumLength = 0;
    uint32_t totalMain = 0, totalLength = 0, usedSymbols = 0;
    m_touched.clear();
    cost.assign(m_pieces.size(), 0);
    for (size_t j = first; j < m_pieces.size(); ++j) {
        for (size_t k = m_pieces[j].first; k < m_pieces[j].end; ++k) {
            const auto& c = m_pairs[k];
            uint32_t& have = m_counts[c.first];
            const int64_t change = NLogN(have + c.second) - NLogN(have);
            if (have == 0) {
                ++usedSymbols;
                m_touched.push_back(c.first);
            }
            have += c.second;
            if (c.first < m_mainSymbols) {
                sumMain += change;
                totalMain += c.second;
            } else {
                sumLength += change;
                totalLength += c.second;
            }
        }
        cost[j] = NLogN(totalMain) - sumMain + NLogN(totalLength) - sumLength + kBlockHeaderBits +
                  kBitsPerTreeSymbol * usedSymbols;
    }
    for (uint16_t t : m_touched)
        m_counts[t] = 0;
}

bool BlockSplitter::AnyCutPays()
{
    const size_t k = m_pieces.size();
    RunCosts(0, m_whole);
    for (size_t q = 1; q <= 3; ++q) {
        const size_t at = std::max<size_t>(1, k * q / 4);
        RunCosts(at, m_rest);
        if (m_whole[at - 1] + m_rest[k - 1] < m_whole[k - 1])
            return true;
    }
    return false;
}

void BlockSplitter::Search()
{
    const size_t k = m_pieces.size();
    m_best.assign(k + 1, INT64_MAX);
    m_from.assign(k + 1, 0);
    m_best[0] = 0;
    for (size_t first = 0; first < k; ++first) {
        RunCosts(first, m_whole);
        for (size_t j = first; j < k; ++j)
            if (m_best[first] + m_whole[j] < m_best[j + 1]) {
                m_best[j + 1] = m_best[first] + m_whole[j];
                m_from[j + 1] = first;
            }
    }
    m_blocks.clear();
    for (size_t j = k; j > 0; j = m_from[j]) {
        size_t count = 0;
        for (size_t p = m_from[j]; p < j; ++p)
            count += m_pieces[p].items;
        m_blocks.push_back(count);
    }
    std::reverse(m_blocks.begin(), m_blocks.end());
}

const std::vector<size_t>& BlockSplitter::Split(const Item* items, size_t n, uint32_t pieceBytes)
{
    CutPieces(items, n, pieceBytes);
    const size_t k = m_pieces.size();
    m_blocks.assign(k == 0 ? 0 : 1, n);
    if (k >= 2 && AnyCutPays())
        Search();
    return m_blocks;
}

} // namespace lzx
} // namespace cab32
