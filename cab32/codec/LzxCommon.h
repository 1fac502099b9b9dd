// What the LZX encoder and decoder share: the stream's constants, the
// position-slot tables and canonical Huffman codes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab32 {
namespace lzx {

constexpr int kNumChars = 256;         // literal symbols at the start of the main tree
constexpr int kPrimaryLengths = 7;     // length headers 0..6 in the main symbol; 7 means "see the length tree"
constexpr int kSecondaryLengths = 249; // length tree symbols
constexpr int kMinMatch = 2;
constexpr int kMaxMatch = kMinMatch + kPrimaryLengths + kSecondaryLengths - 1; // 257
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int kMaxSlots = 50; // position slots of a 2^21 window
constexpr int kMaxMainSymbols = kNumChars + kMaxSlots * 8;
constexpr int kMaxCodeLength = 16;    // main and length trees
constexpr int kMaxPretreeLength = 15; // 4-bit lengths
constexpr int kMaxAlignedLength = 7;  // 3-bit lengths

constexpr int kBlockVerbatim = 1;
constexpr int kBlockAligned = 2;
constexpr int kBlockUncompressed = 3;

constexpr int32_t kE8TranslationSize = 12000000; // absolute call targets below this are translated

// Position slots of a window of 2^windowBits bytes (15..21).
int SlotsForWindow(int windowBits);
// Extra offset bits that follow a position slot.
inline int ExtraBits(int slot)
{
    return slot < 4 ? 0 : (slot >= 36 ? 17 : (slot - 2) >> 1);
}
// The smallest formatted offset (offset + 2) of a position slot.
inline uint32_t PositionBase(int slot)
{
    if (slot < 4)
        return static_cast<uint32_t>(slot);
    if (slot >= 36)
        return (1u << 18) + (static_cast<uint32_t>(slot - 36) << 17);
    const int n = slot >> 1;
    return (slot & 1) ? (3u << (n - 1)) : (1u << n);
}
// The position slot of a formatted offset (3 and up). Inline: the parse asks
// it for every candidate match.
inline int SlotOf(uint32_t formatted)
{
    if (formatted < 4)
        return static_cast<int>(formatted);
    if (formatted >= (1u << 18))
        return 36 + static_cast<int>((formatted - (1u << 18)) >> 17);
    const int n = 31 - __builtin_clz(formatted);
    return 2 * n + static_cast<int>((formatted >> (n - 1)) & 1);
}

// Code lengths for the frequencies: at most maxLength bits, and a complete
// code whenever at least one symbol occurs (a lone symbol gets a partner).
void BuildLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths);
// Canonical codes (shorter first, then by symbol) for the lengths.
void BuildCodes(const uint8_t* lengths, int count, uint16_t* codes);

// Converts the E8 call operands of one frame (data[0..len)) that starts at
// stream offset pos, for the given translation size; toAbsolute for the
// encoder, the reverse for the decoder.
void TranslateE8(uint8_t* data, size_t len, uint32_t pos, int32_t size, bool toAbsolute);

} // namespace lzx
} // namespace cab32
