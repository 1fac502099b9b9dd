#include "cab32/codec/LzxBlockCodes.h"

#include <algorithm>
#include <cstring>

namespace cab32 {
namespace lzx {

namespace {

constexpr uint32_t kAbsentMainBits = 13;   // a main or length symbol the codes lack
constexpr uint32_t kAbsentAlignedBits = 5; // an aligned symbol the codes lack

} // namespace

void SymbolCounts::Clear()
{
    std::memset(main, 0, sizeof(main));
    std::memset(length, 0, sizeof(length));
    std::memset(aligned, 0, sizeof(aligned));
    alignedUses = 0;
}

void SymbolCounts::Add(const Item& it)
{
    if (it.length == 0) {
        ++main[it.value];
        return;
    }
    const int slot = SlotOfValue(it.value);
    ++main[MatchSymbol(slot, it.length)];
    if (it.length - kMinMatch >= kPrimaryLengths)
        ++length[it.length - kMinMatch - kPrimaryLengths];
    if (it.value >= 3 && ExtraBits(slot) >= 3) {
        ++aligned[(it.value - PositionBase(slot)) & 7];
        ++alignedUses;
    }
}

void SymbolCounts::Add(const Item* items, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        Add(items[i]);
}

void BlockCodes::Build(const SymbolCounts& counts, int mainSymbols)
{
    BuildLengths(counts.main, mainSymbols, kMaxCodeLength, main);
    std::memset(main + mainSymbols, 0, static_cast<size_t>(kMaxMainSymbols - mainSymbols));
    BuildLengths(counts.length, kSecondaryLengths, kMaxCodeLength, length);
    BuildLengths(counts.aligned, kAlignedSymbols, kMaxAlignedLength, aligned);
    // An aligned block spends 24 bits on its tree to code the low three offset bits.
    uint64_t alignedBits = 24;
    for (int i = 0; i < kAlignedSymbols; ++i)
        alignedBits += uint64_t(counts.aligned[i]) * aligned[i];
    alignedBlock = counts.alignedUses > 0 && alignedBits < uint64_t(counts.alignedUses) * 3;
    if (!alignedBlock)
        std::fill(aligned, aligned + kAlignedSymbols, uint8_t(3));
}

void CostModel::SetDefault(int mainSymbols)
{
    for (int i = 0; i < kNumChars; ++i)
        m_main[i] = 8;
    for (int i = kNumChars; i < kMaxMainSymbols; ++i)
        m_main[i] = i < mainSymbols ? 9 + static_cast<uint32_t>((i - kNumChars) >> 5) : kAbsentMainBits;
    for (int i = 0; i < kSecondaryLengths; ++i)
        m_length[i] = 6 + (i >= 8) + (i >= 24);
    for (int i = 0; i < kAlignedSymbols; ++i)
        m_aligned[i] = 3;
}

void CostModel::Set(const BlockCodes& codes, int mainSymbols)
{
    for (int i = 0; i < kMaxMainSymbols; ++i)
        m_main[i] = i < mainSymbols && codes.main[i] ? codes.main[i] : kAbsentMainBits;
    for (int i = 0; i < kSecondaryLengths; ++i)
        m_length[i] = codes.length[i] ? codes.length[i] : kAbsentMainBits;
    for (int i = 0; i < kAlignedSymbols; ++i)
        m_aligned[i] = !codes.alignedBlock ? 3 : codes.aligned[i] ? codes.aligned[i] : kAbsentAlignedBits;
}

} // namespace lzx
} // namespace cab32
