#include "cab32/codec/LzxBlockWriter.h"

#include <algorithm>
#include <cstring>

#include "cab32/codec/LzxTreeWriter.h"

namespace cab32 {
namespace lzx {

namespace {

// The position slot of a match item.
inline int SlotOfItem(const Item& it)
{
    return it.value < 3 ? static_cast<int>(it.value) : SlotOf(it.value);
}

} // namespace

void BlockWriter::WriteHeader(bool e8)
{
    m_bits.Put(e8 ? 1 : 0, 1);
    if (e8) {
        m_bits.Put(static_cast<uint32_t>(kE8TranslationSize) >> 16, 16);
        m_bits.Put(static_cast<uint32_t>(kE8TranslationSize) & 0xFFFF, 16);
    }
}

void BlockWriter::CutFrame()
{
    m_bits.Align();
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
}

void BlockWriter::WriteBlock(const Item* items, size_t count, uint32_t size)
{
    uint32_t mainFreq[kMaxMainSymbols] = {};
    uint32_t lengthFreq[kSecondaryLengths] = {};
    uint32_t alignedFreq[kAlignedSymbols] = {};
    uint64_t alignedCount = 0;
    for (const Item* it = items; it != items + count; ++it) {
        if (it->length == 0) {
            ++mainFreq[it->value];
            continue;
        }
        const int slot = SlotOfItem(*it);
        const uint32_t header = std::min<uint32_t>(it->length - kMinMatch, kPrimaryLengths);
        ++mainFreq[kNumChars + slot * 8 + header];
        if (header == kPrimaryLengths)
            ++lengthFreq[it->length - kMinMatch - kPrimaryLengths];
        if (it->value >= 3 && ExtraBits(slot) >= 3) {
            ++alignedFreq[(it->value - PositionBase(slot)) & 7];
            ++alignedCount;
        }
    }
    uint8_t mainLen[kMaxMainSymbols], lengthLen[kSecondaryLengths], alignedLen[kAlignedSymbols];
    BuildLengths(mainFreq, m_mainSymbols, kMaxCodeLength, mainLen);
    BuildLengths(lengthFreq, kSecondaryLengths, kMaxCodeLength, lengthLen);
    BuildLengths(alignedFreq, kAlignedSymbols, kMaxAlignedLength, alignedLen);
    // An aligned block spends 24 bits on its tree to code the low three offset bits.
    uint64_t alignedBits = 24;
    for (int i = 0; i < kAlignedSymbols; ++i)
        alignedBits += uint64_t(alignedFreq[i]) * alignedLen[i];
    const bool aligned = alignedCount > 0 && alignedBits < alignedCount * 3;

    m_bits.Put(aligned ? kBlockAligned : kBlockVerbatim, 3);
    m_bits.Put(size >> 8, 16);
    m_bits.Put(size & 0xFF, 8);
    for (int i = 0; aligned && i < kAlignedSymbols; ++i)
        m_bits.Put(alignedLen[i], 3);
    WriteLengths(m_bits, mainLen, m_prevMain, kNumChars);
    WriteLengths(m_bits, mainLen + kNumChars, m_prevMain + kNumChars, m_mainSymbols - kNumChars);
    WriteLengths(m_bits, lengthLen, m_prevLength, kSecondaryLengths);
    std::memcpy(m_prevMain, mainLen, static_cast<size_t>(m_mainSymbols));
    std::memcpy(m_prevLength, lengthLen, sizeof(m_prevLength));
    WriteItems(aligned, items, count, mainLen, lengthLen, alignedLen);
}

void BlockWriter::WriteItems(bool aligned, const Item* items, size_t count, const uint8_t* mainLen,
                             const uint8_t* lengthLen, const uint8_t* alignedLen)
{
    uint16_t mainCode[kMaxMainSymbols], lengthCode[kSecondaryLengths], alignedCode[kAlignedSymbols];
    BuildCodes(mainLen, m_mainSymbols, mainCode);
    BuildCodes(lengthLen, kSecondaryLengths, lengthCode);
    BuildCodes(alignedLen, kAlignedSymbols, alignedCode);
    for (const Item* it = items; it != items + count; ++it) {
        if (it->length == 0) {
            m_bits.Put(mainCode[it->value], mainLen[it->value]);
            ++m_written;
        } else {
            const int slot = SlotOfItem(*it);
            const uint32_t header = std::min<uint32_t>(it->length - kMinMatch, kPrimaryLengths);
            const uint32_t symbol = kNumChars + static_cast<uint32_t>(slot) * 8 + header;
            m_bits.Put(mainCode[symbol], mainLen[symbol]);
            if (header == kPrimaryLengths) {
                const uint32_t footer = it->length - kMinMatch - kPrimaryLengths;
                m_bits.Put(lengthCode[footer], lengthLen[footer]);
            }
            const int extra = ExtraBits(slot);
            if (it->value >= 3 && extra > 0) {
                const uint32_t e = it->value - PositionBase(slot);
                if (aligned && extra >= 3) {
                    m_bits.Put(e >> 3, extra - 3);
                    m_bits.Put(alignedCode[e & 7], alignedLen[e & 7]);
                } else {
                    m_bits.Put(e, extra);
                }
            }
            m_written += it->length;
        }
        if (m_written % kLzxFrameSize == 0)
            CutFrame();
    }
}

// Block type 3: its header, one to sixteen bits to the next word, R0..R2 as
// 32-bit little-endian values, the bytes, a pad byte after an odd count. The
// bit stream goes on after it (on a word, as the pad keeps the count even).
// Trees are untouched: the next block's are still sent against the last
// compressed block's.
void BlockWriter::WriteUncompressed(const uint8_t* data, uint32_t size, const uint32_t reps[3])
{
    m_bits.Put(kBlockUncompressed, 3);
    m_bits.Put(size >> 8, 16);
    m_bits.Put(size & 0xFF, 8);
    m_bits.AlignOneToSixteen();
    for (int i = 0; i < 3; ++i) {
        const uint8_t r[4] = {static_cast<uint8_t>(reps[i]), static_cast<uint8_t>(reps[i] >> 8),
                              static_cast<uint8_t>(reps[i] >> 16), static_cast<uint8_t>(reps[i] >> 24)};
        m_bits.PutBytes(r, sizeof(r));
    }
    for (uint32_t done = 0; done < size;) {
        const uint32_t run = std::min(size - done, kLzxFrameSize - m_written % kLzxFrameSize);
        m_bits.PutBytes(data + done, run);
        done += run;
        m_written += run;
        if (done == size && (size & 1) != 0) {
            const uint8_t pad = 0;
            m_bits.PutBytes(&pad, 1);
        }
        if (m_written % kLzxFrameSize == 0)
            CutFrame();
    }
}

} // namespace lzx
} // namespace cab32
