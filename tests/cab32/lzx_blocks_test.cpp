// LZX blocks that start and end inside frames: the encoder's choices (where
// blocks end, which parse) on inputs that make them work hardest, and the
// frame bound given blocks that share frames, every frame within its bound
// and every byte back through our decoder and libmspack's.
#include <gtest/gtest.h>

#include <string>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBlockCodes.h"
#include "cab32/codec/LzxBlockWriter.h"
#include "cab32/codec/LzxFrameBound.h"
#include "tests/support/lzx_inputs.h"
#include "tests/support/lzx_references.h"

using namespace cab32;
using namespace lzxref;
using namespace lzxin;

namespace {

// Bytes of the frames' payloads.
uint64_t PayloadBytes(const std::vector<LzxFrame>& frames)
{
    uint64_t bytes = 0;
    for (const LzxFrame& f : frames)
        bytes += f.data.size();
    return bytes;
}

} // namespace

TEST(LzxBlocks, BlocksEndWhereStatisticsShiftAndEveryParseRoundTrips)
{
    LzxOptions lazy, leastCost, oneFrame, unsplit, longestOnly, fine;
    leastCost.leastCost = true;
    oneFrame.blockFrames = 1;
    oneFrame.splitBlocks = false;
    unsplit.splitBlocks = false;
    longestOnly.leastCost = true;
    longestOnly.parsePasses = 1;
    longestOnly.everyLength = false;
    fine.splitPieceBytes = 1000;
    Bytes shifts = Text(12000, 20);
    for (const Bytes& part : {Random(6000, 21), Base64(14000, 22), Text(40000, 23)})
        Append(shifts, part);
    const struct
    {
        const char* what;
        Bytes data;
        int windowBits;
        LzxOptions options;
        uint64_t minBlocks, maxBlocks; // blocks the encoder may write
    } cases[] = {
        {"text, noise and base64 within the first frames", shifts, 17, lazy, 3, 99},
        {"the same, least-cost parse", shifts, 17, leastCost, 3, 99},
        {"the same, pieces of 1,000 bytes", shifts, 17, fine, 3, 99},
        {"text, one frame a block", Text(100000, 24), 17, oneFrame, 4, 4},
        {"text, one block of four frames a stretch", Text(300000, 25), 19, unsplit, 3, 3},
        {"a short folder: one block inside one frame", Text(3000, 26), 15, lazy, 1, 1},
        {"machine code, least cost, longest lengths only", Code(300000), 19, longestOnly, 1, 99},
        {"period of the window less 3, least cost", Periodic(200000, (1 << 15) - 3, 26), 15, leastCost, 1, 99},
        {"period of the window less 3", Periodic(200000, (1 << 15) - 3, 26), 15, lazy, 1, 99},
        {"one byte at the longest match, least cost", Bytes(100000, 'a'), 16, leastCost, 1, 99},
        {"noise, least cost", Random(70000, 27), 17, leastCost, 1, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LzxBitCounts bits;
        bool e8 = false;
        const std::vector<LzxFrame> frames = Encode(c.data, c.windowBits, c.options, 0, &e8, &bits);
        EXPECT_EQ("", FrameFault(frames, c.data.size(), kLzxLargestFrame, e8));
        EXPECT_EQ(bits.literals + bits.matchSymbols + bits.lengths + bits.offsets + bits.headers + bits.uncompressed +
                      bits.padding,
                  PayloadBytes(frames) * 8);
        EXPECT_GE(bits.blocks, c.minBlocks);
        EXPECT_LE(bits.blocks, c.maxBlocks);
        EXPECT_EQ("", ReadBackFault(frames, c.data, c.windowBits));
    }
}

namespace {

std::vector<lzx::Item> Literals(const Bytes& bytes)
{
    std::vector<lzx::Item> items;
    for (uint8_t b : bytes)
        items.push_back({0, b});
    return items;
}

} // namespace

// A frame of text written as usual (its trees are those the next block's are
// sent against), then three and a half frames as four blocks ending inside
// frames: text, noise unlike it, text again (literals: about 20 KB a text
// frame, 31 KB a noise one). Under a lower limit the group is written again
// one frame a block, after the writer has put back the trees of the first
// frame, each frame still over it uncompressed; under limit 1 all of them,
// the first frame too.
TEST(LzxBlocks, TheFrameBoundRewritesBlocksThatShareFramesOneFrameABlock)
{
    const int windowBits = 17;
    const int mainSymbols = lzx::kNumChars + lzx::SlotsForWindow(windowBits) * 8;
    const Bytes first = Text(kLzxFrameSize, 70);
    Bytes group = Text(20000, 71);
    Append(group, Noise(50000, 72, 0, 200));
    Append(group, Text(3 * kLzxFrameSize + kLzxFrameSize / 2 - 70000, 73));
    Bytes all = first;
    Append(all, group);
    const std::vector<lzx::Item> firstItems = Literals(first), items = Literals(group);
    const size_t ends[] = {9000, 20000, 70000, group.size()}; // each block's end
    const struct
    {
        uint32_t limit;
        size_t alone, uncompressed; // frames of the group compressed alone, uncompressed
    } cases[] = {{kLzxLargestFrame, 0, 0}, {30000, 3, 1}, {22000, 1, 3}, {1, 0, 4}};
    for (const auto& c : cases) {
        const uint32_t limit = c.limit;
        SCOPED_TRACE("limit " + std::to_string(limit));
        std::vector<lzx::BlockCodes> codes(4);
        std::vector<lzx::GroupBlock> blocks;
        for (size_t b = 0, from = 0; b < 4; from = ends[b++]) {
            lzx::SymbolCounts counts;
            counts.Add(items.data() + from, ends[b] - from);
            codes[b].Build(counts, mainSymbols);
            blocks.push_back({ends[b] - from, static_cast<uint32_t>(ends[b] - from), &codes[b]});
        }
        lzx::BlockWriter writer(mainSymbols);
        writer.WriteHeader(false);
        const lzx::FrameGroup head = {firstItems.data(), firstItems.size(), nullptr, 0, first.data(),
                                      kLzxFrameSize,     {1, 1, 1},         false,   0};
        lzx::WriteWithinBound(writer, head, limit);
        const lzx::FrameGroup split = {items.data(),  items.size(), blocks.data(),
                                       blocks.size(), group.data(), static_cast<uint32_t>(group.size()),
                                       {1, 1, 1},     true,         4 * kLzxFrameSize};
        lzx::WriteWithinBound(writer, split, limit);
        const std::vector<LzxFrame> frames(writer.Ready().begin(), writer.Ready().end());
        EXPECT_EQ("", FrameFault(frames, all.size(), limit, false));
        ASSERT_EQ(frames.size(), 5u);
        size_t uncompressed = 0;
        for (size_t i = 1; i < frames.size(); ++i)
            uncompressed += frames[i].data.size() == UncompressedFrameSize(i, frames[i].uncompressed, false) ||
                            frames[i].data.size() == UncompressedFrameSize(i, frames[i].uncompressed, false) + 16;
        EXPECT_EQ(uncompressed, c.uncompressed);
        // The first frame's block (uncompressed under limit 1), then the four as chosen or one a frame
        // compressed alone.
        EXPECT_EQ(writer.Counts().blocks, (limit == 1 ? 0 : 1) + (limit == kLzxLargestFrame ? 4 : c.alone));
        EXPECT_EQ("", ReadBackFault(frames, all, windowBits));
    }
}
