#include "cab32/codec/Lzx.h"

#include <algorithm>
#include <cstring>

#include "cab32/codec/LzxBitReader.h"
#include "cab32/codec/LzxHuffmanDecoder.h"
#include "cab32/codec/LzxCommon.h"

namespace cab32 {

using namespace lzx;

struct LzxDecoder::State
{
    explicit State(int windowBits)
        : windowSize(1u << windowBits), window(new uint8_t[windowSize]),
          mainSymbols(kNumChars + SlotsForWindow(windowBits) * 8)
    {}

    // The window: the bytes decoded, the last window of them kept for matches.
    uint32_t windowSize;
    std::unique_ptr<uint8_t[]> window; // left uninitialised: no match reaches before the stream's start
    uint32_t windowPos = 0;            // where the next byte goes

    // The stream: its header, and how far it has got.
    bool headerRead = false;
    int32_t e8Size = 0;          // call translation size; 0 when off
    uint64_t total = 0;          // bytes decoded so far
    uint32_t frame = 0;          // frames decoded so far
    bool shortFrameSeen = false; // only the last frame may be short
    bool failed = false;         // damaged input was seen: every frame after fails

    // The block being decoded.
    int blockType = 0;
    uint32_t blockRemaining = 0; // bytes it still codes
    bool padPending = false;     // an odd-sized uncompressed block ended: skip its pad byte
    uint32_t rep[3] = {1, 1, 1}; // the repeated offsets R0, R1, R2

    // The trees: the block's codes, and the lengths the next block's are sent against.
    int mainSymbols; // 256 literals and 8 length headers per position slot
    uint8_t mainLen[kMaxMainSymbols] = {};
    uint8_t lengthLen[kSecondaryLengths] = {};
    HuffmanDecoder mainTree, lengthTree, alignedTree;

    // What the stream used, for whoever asks (LargestOffset).
    uint32_t largestOffset = 0; // the largest match offset copied so far

    bool ReadLengths(BitReader& bits, uint8_t* lens, int count);
    bool ReadBlockHeader(BitReader& bits);
    bool ReadUncompressedHeader(BitReader& bits);
    bool DecodeRun(BitReader& bits, uint32_t run);
    bool CopyRaw(BitReader& bits, uint32_t run);
    bool CopyMatch(uint32_t length, uint32_t offset);
    uint32_t MatchOffset(BitReader& bits, int slot);
    bool Frame(BitReader& bits, uint32_t size);
};

// Reads a pretree and the delta-coded lengths lens[0..count).
bool LzxDecoder::State::ReadLengths(BitReader& bits, uint8_t* lens, int count)
{
    uint8_t pre[kPretreeSymbols];
    for (int i = 0; i < kPretreeSymbols; ++i)
        pre[i] = static_cast<uint8_t>(bits.Read(4));
    HuffmanDecoder pretree;
    if (!pretree.Build(pre, kPretreeSymbols, false))
        return false;
    for (int x = 0; x < count;) {
        int z = pretree.Decode(bits);
        int run = 1;
        int value = 0;
        if (z == 17) {
            run = 4 + static_cast<int>(bits.Read(4));
        } else if (z == 18) {
            run = 20 + static_cast<int>(bits.Read(5));
        } else if (z == 19) {
            run = 4 + static_cast<int>(bits.Read(1));
            z = pretree.Decode(bits);
            if (z < 0 || z > 16)
                return false;
            value = (lens[x] + 17 - z) % 17;
        } else if (z >= 0) {
            value = (lens[x] + 17 - z) % 17;
        } else {
            return false;
        }
        if (run > count - x || bits.Overrun())
            return false;
        std::fill(lens + x, lens + x + run, static_cast<uint8_t>(value));
        x += run;
    }
    return true;
}

bool LzxDecoder::State::ReadUncompressedHeader(BitReader& bits)
{
    // One to sixteen bits of padding to the next word, then R0, R1, R2.
    if (bits.Consumed() % 16 == 0)
        bits.Read(16);
    else
        bits.Align();
    if (bits.Overrun() || !bits.SeekByte(bits.Consumed() / 8) || bits.Left() < 12)
        return false;
    for (int i = 0; i < 3; ++i) {
        const uint8_t* p = bits.Here() + 4 * i;
        rep[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    bits.Advance(12);
    return true;
}

bool LzxDecoder::State::ReadBlockHeader(BitReader& bits)
{
    if (padPending) {
        if (bits.Left() < 1)
            return false;
        bits.Advance(1);
        padPending = false;
    }
    blockType = static_cast<int>(bits.Read(3));
    blockRemaining = bits.Read(16) << 8;
    blockRemaining |= bits.Read(8);
    if (blockRemaining == 0)
        return false;
    if (blockType == kBlockUncompressed) {
        padPending = (blockRemaining & 1) != 0;
        return ReadUncompressedHeader(bits);
    }
    if (blockType != kBlockVerbatim && blockType != kBlockAligned)
        return false;
    if (blockType == kBlockAligned) {
        uint8_t aligned[kAlignedSymbols];
        for (int i = 0; i < kAlignedSymbols; ++i)
            aligned[i] = static_cast<uint8_t>(bits.Read(3));
        if (!alignedTree.Build(aligned, kAlignedSymbols, false))
            return false;
    }
    return ReadLengths(bits, mainLen, kNumChars) && ReadLengths(bits, mainLen + kNumChars, mainSymbols - kNumChars) &&
           mainTree.Build(mainLen, mainSymbols, false) && ReadLengths(bits, lengthLen, kSecondaryLengths) &&
           lengthTree.Build(lengthLen, kSecondaryLengths, true) && !bits.Overrun();
}

uint32_t LzxDecoder::State::MatchOffset(BitReader& bits, int slot)
{
    const int extra = ExtraBits(slot);
    uint32_t offset = PositionBase(slot) - 2;
    if (blockType == kBlockAligned && extra >= 3) {
        offset += bits.Read(extra - 3) << 3;
        const int low = alignedTree.Decode(bits);
        offset += static_cast<uint32_t>(low < 0 ? 0 : low);
    } else {
        offset += bits.Read(extra);
    }
    return offset;
}

bool LzxDecoder::State::CopyMatch(uint32_t length, uint32_t offset)
{
    if (offset == 0 || offset > windowSize || offset > total)
        return false;
    const uint32_t mask = windowSize - 1;
    largestOffset = std::max(largestOffset, offset);
    uint32_t src = (windowPos - offset) & mask;
    uint8_t* w = window.get();
    if (src + length <= windowSize && src + length <= windowPos) {
        std::memcpy(w + windowPos, w + src, length);
    } else {
        for (uint32_t i = 0; i < length; ++i)
            w[windowPos + i] = w[(src + i) & mask];
    }
    windowPos += length;
    total += length;
    return true;
}

// Decodes run bytes of a verbatim or aligned block.
bool LzxDecoder::State::DecodeRun(BitReader& bits, uint32_t run)
{
    while (run > 0) {
        const int symbol = mainTree.Decode(bits);
        if (symbol < 0)
            return false;
        if (symbol < kNumChars) {
            window[windowPos++] = static_cast<uint8_t>(symbol);
            ++total;
            --run;
            continue;
        }
        const int header = (symbol - kNumChars) & 7;
        const int slot = (symbol - kNumChars) >> 3;
        uint32_t length = static_cast<uint32_t>(header) + kMinMatch;
        if (header == kPrimaryLengths) {
            const int footer = lengthTree.Decode(bits);
            if (footer < 0)
                return false;
            length += static_cast<uint32_t>(footer);
        }
        uint32_t offset;
        if (slot < 3) {
            offset = rep[slot];
            rep[slot] = rep[0];
            rep[0] = offset;
        } else {
            offset = MatchOffset(bits, slot);
            rep[2] = rep[1];
            rep[1] = rep[0];
            rep[0] = offset;
        }
        if (length > run || !CopyMatch(length, offset))
            return false;
        run -= length;
    }
    return !bits.Overrun();
}

bool LzxDecoder::State::CopyRaw(BitReader& bits, uint32_t run)
{
    if (bits.Left() < run)
        return false;
    std::memcpy(window.get() + windowPos, bits.Here(), run);
    bits.Advance(run);
    windowPos += run;
    total += run;
    return true;
}

bool LzxDecoder::State::Frame(BitReader& bits, uint32_t size)
{
    if (!headerRead) {
        if (bits.Read(1)) {
            const uint32_t high = bits.Read(16);
            e8Size = static_cast<int32_t>(high << 16 | bits.Read(16));
        }
        headerRead = true;
    }
    for (uint32_t todo = size; todo > 0;) {
        if (blockRemaining == 0 && !ReadBlockHeader(bits))
            return false;
        const uint32_t run = std::min(todo, blockRemaining);
        const bool ok = blockType == kBlockUncompressed ? CopyRaw(bits, run) : DecodeRun(bits, run);
        if (!ok)
            return false;
        todo -= run;
        blockRemaining -= run;
    }
    if (blockType != kBlockUncompressed) { // raw bytes leave the reader on a byte
        bits.Align();
    } else if (blockRemaining == 0 && padPending && bits.Left() > 0) {
        // An odd uncompressed block that ends the folder: its pad byte ends the frame.
        bits.Advance(1);
        padPending = false;
    }
    return !bits.Overrun();
}

LzxDecoder::LzxDecoder(int windowBits)
    : m_state(new State(std::min(std::max(windowBits, kLzxMinWindowBits), kLzxMaxWindowBits)))
{}

LzxDecoder::~LzxDecoder() = default;

bool LzxDecoder::DecodeFrame(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen)
{
    State& s = *m_state;
    if (s.failed || s.shortFrameSeen || outLen == 0 || outLen > kLzxFrameSize) {
        s.failed = true;
        return false;
    }
    BitReader bits(in, inLen);
    const uint32_t start = s.windowPos;
    const uint64_t frameOffset = s.total;
    // A short frame ends the stream, so it must end the last block too.
    const bool last = outLen < kLzxFrameSize;
    if (!s.Frame(bits, static_cast<uint32_t>(outLen)) || (bits.Consumed() + 7) / 8 != inLen ||
        (last && s.blockRemaining != 0)) {
        s.failed = true;
        return false;
    }
    std::memcpy(out, s.window.get() + start, outLen);
    if (s.e8Size != 0 && s.frame < 32768)
        TranslateE8(out, outLen, static_cast<uint32_t>(frameOffset), s.e8Size, false);
    ++s.frame;
    s.shortFrameSeen = last;
    if (s.windowPos == s.windowSize)
        s.windowPos = 0;
    return true;
}

uint32_t LzxDecoder::LargestOffset() const
{
    return m_state->largestOffset;
}

} // namespace cab32
