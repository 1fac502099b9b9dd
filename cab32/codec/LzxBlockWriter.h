// Writing a parsed LZX stream, the encoder's output: blocks (verbatim,
// aligned-offset or uncompressed) into one bit stream, cut into frames of
// 32,768 uncompressed bytes, each padded to a 16-bit word, wherever a block
// starts or ends. The writer's whole state can be saved before a block and
// put back, so blocks can be written again another way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBitWriter.h"
#include "cab32/codec/LzxBlockCodes.h"

namespace cab32 {
namespace lzx {

class BlockWriter
{
public:
    // Everything writing a block changes, saved to write it again.
    struct Mark
    {
        BitWriter bits;                        // the frame being written, its pending bits
        uint8_t prevMain[kMaxMainSymbols];     // the main tree the next block's lengths are sent against
        uint8_t prevLength[kSecondaryLengths]; // the same for the length tree
        uint32_t written;                      // stream offset of the next byte to write
        uint32_t cut;                          // stream offset where the frame being written starts
        size_t ready;                          // frames cut and not yet taken
        uint64_t payload;                      // bytes of all frames cut
        LzxBitCounts counts;                   // where the bits went
    };

    explicit BlockWriter(int mainSymbols) : m_mainSymbols(mainSymbols) {}

    // The stream's header: whether call translation is on (size 12,000,000).
    void WriteHeader(bool e8);
    // items[0..count), which cover size bytes, as one verbatim or aligned
    // block with the given codes, or with codes built from their counts.
    void WriteBlock(const Item* items, size_t count, uint32_t size, const BlockCodes& codes);
    void WriteBlock(const Item* items, size_t count, uint32_t size);
    // data[0..size) as one uncompressed block after which the repeated offsets are reps.
    void WriteUncompressed(const uint8_t* data, uint32_t size, const uint32_t reps[3]);
    // Cuts the frame being written, when it holds anything (the folder's last).
    void CutPartial();

    void Save(Mark& mark) const;
    void Restore(const Mark& mark);

    uint32_t Written() const { return m_written; }
    // Bits in the frame being written.
    size_t FrameBits() const { return m_bits.Bits(); }
    // Bytes of all frames cut so far (taken or not).
    uint64_t PayloadBytes() const { return m_payload; }
    // Frames cut and not yet taken, oldest first.
    std::deque<LzxFrame>& Ready() { return m_ready; }
    const LzxBitCounts& Counts() const { return m_counts; }

private:
    void WriteItems(const Item* items, size_t count, const BlockCodes& codes);
    // Counts bytes coded; cuts the frame when it is full.
    void Advance(uint32_t bytes)
    {
        m_written += bytes;
        if (m_written % kLzxFrameSize == 0)
            CutFrame();
    }
    void CutFrame();

    int m_mainSymbols;
    BitWriter m_bits;
    uint8_t m_prevMain[kMaxMainSymbols] = {};
    uint8_t m_prevLength[kSecondaryLengths] = {};
    uint32_t m_written = 0; // stream offset of the next byte to write
    uint32_t m_cut = 0;     // stream offset where the frame being written starts
    uint64_t m_payload = 0; // bytes of all frames cut
    LzxBitCounts m_counts;
    std::deque<LzxFrame> m_ready;
};

} // namespace lzx
} // namespace cab32
