// The LZX block coder's measures: the parsed items, their symbol counts, the
// Huffman code lengths chosen for a block, and what each choice costs in bits
// under those codes (the parse's and the block splitter's measure).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

// One parsed symbol.
struct Item
{
    uint32_t length; // 0 for a literal, else the match length (2..257)
    uint32_t value;  // the literal, a repeated offset's index (0..2) or the formatted offset (offset + 2)
};

// The repeated offsets after item it: a new offset goes in front, a repeated one swaps with R0.
inline void UpdateReps(uint32_t reps[3], const Item& it)
{
    if (it.length == 0)
        return;
    if (it.value >= 3) {
        reps[2] = reps[1];
        reps[1] = reps[0];
        reps[0] = it.value - 2;
    } else {
        std::swap(reps[0], reps[it.value]);
    }
}

// Bytes the items cover.
inline uint32_t BytesOf(const Item* items, size_t n)
{
    uint32_t bytes = 0;
    for (size_t i = 0; i < n; ++i)
        bytes += items[i].length ? items[i].length : 1;
    return bytes;
}

// The main-tree symbol of a match: its position slot and length header.
inline uint32_t MatchSymbol(int slot, uint32_t length)
{
    const uint32_t header = length - kMinMatch < kPrimaryLengths ? length - kMinMatch : kPrimaryLengths;
    return kNumChars + static_cast<uint32_t>(slot) * 8 + header;
}

// The position slot of an item's value (a repeated offset is its own slot).
inline int SlotOfValue(uint32_t value)
{
    return value < 3 ? static_cast<int>(value) : SlotOf(value);
}

// How often each symbol of the three trees occurs.
struct SymbolCounts
{
    uint32_t main[kMaxMainSymbols];
    uint32_t length[kSecondaryLengths];
    uint32_t aligned[kAlignedSymbols];
    uint32_t alignedUses; // offsets with three or more extra bits

    SymbolCounts() { Clear(); }
    void Clear();
    void Add(const Item& it);
    void Add(const Item* items, size_t n);
};

// The code lengths of one block.
struct BlockCodes
{
    uint8_t main[kMaxMainSymbols];
    uint8_t length[kSecondaryLengths];
    uint8_t aligned[kAlignedSymbols];
    bool alignedBlock; // an aligned-offset block (else verbatim)

    // Builds the codes for the counts; aligned only where it saves bits.
    void Build(const SymbolCounts& counts, int mainSymbols);
};

// What each choice costs in bits under a block's codes. A symbol the codes
// lack is priced as a long code, so the next parse may still choose it.
class CostModel
{
public:
    // Costs that favour nothing in particular, for data not yet seen.
    void SetDefault(int mainSymbols);
    void Set(const BlockCodes& codes, int mainSymbols);

    uint32_t Literal(uint8_t byte) const { return m_main[byte]; }
    // A match's main symbol and length footer.
    uint32_t Length(int slot, uint32_t length) const
    {
        const uint32_t s = MatchSymbol(slot, length);
        return m_main[s] + (length - kMinMatch >= kPrimaryLengths ? m_length[length - kMinMatch - kPrimaryLengths] : 0);
    }
    // The offset's extra bits (formatted offset 3.. of the given slot).
    uint32_t Offset(int slot, uint32_t formatted) const
    {
        const int extra = ExtraBits(slot);
        if (extra < 3)
            return static_cast<uint32_t>(extra);
        return static_cast<uint32_t>(extra - 3) + m_aligned[(formatted - PositionBase(slot)) & 7];
    }

private:
    uint32_t m_main[kMaxMainSymbols];
    uint32_t m_length[kSecondaryLengths];
    uint32_t m_aligned[kAlignedSymbols];
};

} // namespace lzx
} // namespace cab32
