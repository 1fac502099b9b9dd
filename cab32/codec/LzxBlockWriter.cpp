#include "cab32/codec/LzxBlockWriter.h"

#include <algorithm>
#include <cstring>

#include "cab32/codec/LzxTreeWriter.h"

namespace cab32 {
namespace lzx {

void BlockWriter::WriteHeader(bool e8)
{
    const size_t before = m_bits.Bits();
    m_bits.Put(e8 ? 1 : 0, 1);
    if (e8) {
        m_bits.Put(static_cast<uint32_t>(kE8TranslationSize) >> 16, 16);
        m_bits.Put(static_cast<uint32_t>(kE8TranslationSize) & 0xFFFF, 16);
    }
    m_counts.headers += m_bits.Bits() - before;
}

void BlockWriter::CutFrame()
{
    const size_t before = m_bits.Bits();
    m_bits.Align();
    m_counts.padding += m_bits.Bits() - before;
    LzxFrame frame;
    frame.data = m_bits.Take();
    frame.uncompressed = m_written - m_cut;
    m_cut = m_written;
    m_payload += frame.data.size();
    m_ready.push_back(std::move(frame));
}

void BlockWriter::CutPartial()
{
    if (m_written != m_cut)
        CutFrame();
}

void BlockWriter::Save(Mark& mark) const
{
    mark.bits = m_bits;
    std::memcpy(mark.prevMain, m_prevMain, sizeof(m_prevMain));
    std::memcpy(mark.prevLength, m_prevLength, sizeof(m_prevLength));
    mark.written = m_written;
    mark.cut = m_cut;
    mark.ready = m_ready.size();
    mark.payload = m_payload;
    mark.counts = m_counts;
}

void BlockWriter::Restore(const Mark& mark)
{
    m_bits = mark.bits;
    std::memcpy(m_prevMain, mark.prevMain, sizeof(m_prevMain));
    std::memcpy(m_prevLength, mark.prevLength, sizeof(m_prevLength));
    m_written = mark.written;
    m_cut = mark.cut;
    m_ready.resize(mark.ready);
    m_payload = mark.payload;
    m_counts = mark.counts;
}

void BlockWriter::WriteBlock(const Item* items, size_t count, uint32_t size)
{
    SymbolCounts counts;
    counts.Add(items, count);
    BlockCodes codes;
    codes.Build(counts, m_mainSymbols);
    WriteBlock(items, count, size, codes);
}

void BlockWriter::WriteBlock(const Item* items, size_t count, uint32_t size, const BlockCodes& codes)
{
    const size_t before = m_bits.Bits();
    m_bits.Put(codes.alignedBlock ? kBlockAligned : kBlockVerbatim, 3);
    m_bits.Put(size >> 8, 16);
    m_bits.Put(size & 0xFF, 8);
    for (int i = 0; codes.alignedBlock && i < kAlignedSymbols; ++i)
        m_bits.Put(codes.aligned[i], 3);
    WriteLengths(m_bits, codes.main, m_prevMain, kNumChars);
    WriteLengths(m_bits, codes.main + kNumChars, m_prevMain + kNumChars, m_mainSymbols - kNumChars);
    WriteLengths(m_bits, codes.length, m_prevLength, kSecondaryLengths);
    std::memcpy(m_prevMain, codes.main, static_cast<size_t>(m_mainSymbols));
    std::memcpy(m_prevLength, codes.length, sizeof(m_prevLength));
    m_counts.headers += m_bits.Bits() - before;
    ++m_counts.blocks;
    m_counts.alignedBlocks += codes.alignedBlock;
    WriteItems(items, count, codes);
}

void BlockWriter::WriteItems(const Item* items, size_t count, const BlockCodes& codes)
{
    uint16_t mainCode[kMaxMainSymbols], lengthCode[kSecondaryLengths], alignedCode[kAlignedSymbols];
    BuildCodes(codes.main, m_mainSymbols, mainCode);
    BuildCodes(codes.length, kSecondaryLengths, lengthCode);
    BuildCodes(codes.aligned, kAlignedSymbols, alignedCode);
    LzxBitCounts& c = m_counts;
    for (const Item* it = items; it != items + count; ++it) {
        if (it->length == 0) {
            m_bits.Put(mainCode[it->value], codes.main[it->value]);
            c.literals += codes.main[it->value];
            Advance(1);
            continue;
        }
        const int slot = SlotOfValue(it->value);
        const uint32_t symbol = MatchSymbol(slot, it->length);
        m_bits.Put(mainCode[symbol], codes.main[symbol]);
        c.matchSymbols += codes.main[symbol];
        ++c.matches;
        c.repeats += it->value < 3;
        if (it->length - kMinMatch >= kPrimaryLengths) {
            const uint32_t footer = it->length - kMinMatch - kPrimaryLengths;
            m_bits.Put(lengthCode[footer], codes.length[footer]);
            c.lengths += codes.length[footer];
        }
        const int extra = ExtraBits(slot);
        if (it->value >= 3 && extra > 0) {
            const uint32_t e = it->value - PositionBase(slot);
            if (codes.alignedBlock && extra >= 3) {
                m_bits.Put(e >> 3, extra - 3);
                m_bits.Put(alignedCode[e & 7], codes.aligned[e & 7]);
                c.offsets += static_cast<uint64_t>(extra - 3) + codes.aligned[e & 7];
            } else {
                m_bits.Put(e, extra);
                c.offsets += static_cast<uint64_t>(extra);
            }
        }
        Advance(it->length);
    }
}

// Block type 3: its header, one to sixteen bits to the next word, R0..R2 as
// 32-bit little-endian values, the bytes, a pad byte after an odd count. The
// bit stream goes on after it (on a word, as the pad keeps the count even).
// Trees are untouched: the next block's are still sent against the last
// compressed block's.
void BlockWriter::WriteUncompressed(const uint8_t* data, uint32_t size, const uint32_t reps[3])
{
    const size_t before = m_bits.Bits();
    m_bits.Put(kBlockUncompressed, 3);
    m_bits.Put(size >> 8, 16);
    m_bits.Put(size & 0xFF, 8);
    m_bits.AlignOneToSixteen();
    m_counts.uncompressed += m_bits.Bits() - before + 96 + 8 * (size + (size & 1));
    for (int i = 0; i < 3; ++i) {
        const uint8_t r[4] = {static_cast<uint8_t>(reps[i]), static_cast<uint8_t>(reps[i] >> 8),
                              static_cast<uint8_t>(reps[i] >> 16), static_cast<uint8_t>(reps[i] >> 24)};
        m_bits.PutBytes(r, sizeof(r));
    }
    for (uint32_t done = 0; done < size;) {
        const uint32_t run = std::min(size - done, kLzxFrameSize - m_written % kLzxFrameSize);
        m_bits.PutBytes(data + done, run);
        done += run;
        if (done == size && (size & 1) != 0) {
            const uint8_t pad = 0;
            m_bits.PutBytes(&pad, 1);
        }
        Advance(run);
    }
}

} // namespace lzx
} // namespace cab32
