// LZX on inputs made to break it: every frame within what readers accept, no
// match offset past the cap 7-Zip needs, and every byte back through our
// decoder and libmspack's.
#include <gtest/gtest.h>

#include <string>

#include "cab32/codec/Lzx.h"
#include "tests/support/lzx_inputs.h"
#include "tests/support/lzx_references.h"

using namespace cab32;
using namespace lzxref;
using namespace lzxin;

namespace {

struct Hostile
{
    std::string what;
    Bytes data;
    int windowBits;
    LzxOptions::E8 e8 = LzxOptions::E8::Auto;
    int chainBits = LzxOptions().chainBits; // 21 lets a 2^21 window's matches reach its far end
};

// Frames unlike the rest of their block, and text, noise and base64 side by side.
void AddStatisticsChanges(std::vector<Hostile>& cases)
{
    for (size_t odd = 0; odd < 4; ++odd)
        cases.push_back({"frame " + std::to_string(odd) + " of each block unlike the other three",
                         UnlikeItsBlock(8, odd, 4, 1), 18});
    Bytes halves = Noise(kLzxFrameSize, 2, 0, 128);
    Append(halves, Noise(3 * kLzxFrameSize, 3, 128, 128));
    cases.push_back({"32 KiB from one half of the bytes, 96 KiB from the other", halves, 17});
    Bytes shortLast = UnlikeItsBlock(3, 9, 4, 4);
    Append(shortLast, Noise(kLzxFrameSize / 2 + 1, 5, 56, 200));
    cases.push_back({"the folder's short last frame unlike its block", shortLast, 17});
    Bytes mixed;
    for (uint32_t i = 0; i < 3; ++i) {
        Append(mixed, Text(kLzxFrameSize, 6 + i));
        Append(mixed, Noise(kLzxFrameSize, 9 + i));
        Append(mixed, Base64(2 * kLzxFrameSize, 12 + i));
    }
    cases.push_back({"noise between text and base64", mixed, 19});
}

// Alphabets whose rare bytes get the longest codes, and frames made of those.
void AddSkewedAlphabets(std::vector<Hostile>& cases)
{
    cases.push_back({"bytes weighted 2^-k", Skewed(5 * kLzxFrameSize, 20), 18});
    Bytes rareFrame = Skewed(3 * kLzxFrameSize, 21);
    Append(rareFrame, Noise(kLzxFrameSize, 22, 14, 10));
    Append(rareFrame, Skewed(kLzxFrameSize + 77, 23));
    cases.push_back({"a frame of the rarest bytes after three skewed ones", rareFrame, 18});
    Bytes twoValues = Noise(3 * kLzxFrameSize, 24, 0, 2);
    Append(twoValues, Noise(kLzxFrameSize, 25, 2, 254));
    cases.push_back({"a frame of 254 values after three of two", twoValues, 17});
}

// Periods a little under every window, long enough for matches at that offset.
void AddPeriodsNearTheWindow(std::vector<Hostile>& cases)
{
    for (int bits = kLzxMinWindowBits; bits <= kLzxMaxWindowBits; ++bits)
        for (size_t less = 2; less <= 8; ++less) {
            const size_t period = (size_t(1) << bits) - less;
            cases.push_back({"period 2^" + std::to_string(bits) + " - " + std::to_string(less),
                             Periodic(period + 3 * kLzxFrameSize / 2, period, static_cast<uint32_t>(bits * 16 + less)),
                             bits, LzxOptions::E8::Off, 21});
        }
}

// Runs at and around the longest match, a run across frames, and E8 bytes in
// every one of a frame's last 16 bytes (translation on).
void AddRunsAndCalls(std::vector<Hostile>& cases)
{
    cases.push_back({"runs of 255 .. 260, 514 and 771 bytes",
                     Runs(6 * kLzxFrameSize, {257, 255, 258, 256, 514, 259, 771, 260}, 30), 17});
    cases.push_back({"one run across three frames", Runs(3 * kLzxFrameSize + 999, {100000}, 31), 15});
    cases.push_back({"E8 in each of a frame's last 16 bytes", E8NearFrameEnds(32), 16, LzxOptions::E8::On});
    // As first written, the payloads before its short last frame ended on 4,096 x 4 and libmspack (cabextract)
    // decoded a whole frame there.
    Bytes shortAfterAligned = Text(2 * kLzxFrameSize, 10454);
    Append(shortAfterAligned, Noise(1454, 10454, 0, 55));
    cases.push_back({"text, then a short last frame after 16,384 bytes of payload", shortAfterAligned, 17});
}

std::vector<Hostile> HostileInputs()
{
    std::vector<Hostile> cases;
    AddStatisticsChanges(cases);
    AddSkewedAlphabets(cases);
    AddPeriodsNearTheWindow(cases);
    AddRunsAndCalls(cases);
    return cases;
}

} // namespace

TEST(LzxHostile, EveryFrameWithinTheBoundNoOffsetPastTheCapAndEveryByteBack)
{
    for (const Hostile& c : HostileInputs()) {
        SCOPED_TRACE(c.what);
        LzxOptions options;
        options.e8 = c.e8;
        options.chainBits = c.chainBits;
        bool e8 = false;
        const std::vector<LzxFrame> frames = Encode(c.data, c.windowBits, options, 0, &e8);
        EXPECT_EQ("", FrameFault(frames, c.data.size(), kLzxLargestFrame, e8));
        EXPECT_EQ("", ReadBackFault(frames, c.data, c.windowBits));
    }
}

namespace {

// Three frames of noise then a repetition (period 700, 800, 900: R0 is the
// period at each frame's end, not the last frame's), each too large for a low
// limit, then the last repetition goes on: the first match after the third
// uncompressed frame takes R0 from that frame's header.
Bytes RepeatsAcrossUncompressedFrames()
{
    Bytes out;
    for (uint32_t i = 0; i < 3; ++i) {
        Append(out, Noise(kLzxFrameSize / 2, 40 + i));
        const Bytes repeats = Periodic(kLzxFrameSize / 2 + (i == 2 ? kLzxFrameSize + 999 : 0), 700 + 100 * i, 43 + i);
        Append(out, repeats);
    }
    return out;
}

struct Fallback
{
    const char* what;
    Bytes data;
    LzxOptions::E8 e8;
    size_t twoBlocksAtLimitOne; // the frame written as two uncompressed blocks when every frame is, else SIZE_MAX
};

// Whether frame i of the input (at 'at') follows its uncompressed headers and R0..R2 byte for byte.
bool HoldsItsBytes(const LzxFrame& f, size_t i, const Bytes& input, size_t at, bool e8)
{
    const size_t pad = f.uncompressed & 1;
    return f.data.size() == UncompressedFrameSize(i, f.uncompressed, e8) &&
           std::equal(f.data.end() - static_cast<std::ptrdiff_t>(f.uncompressed + pad),
                      f.data.end() - static_cast<std::ptrdiff_t>(pad), input.begin() + static_cast<std::ptrdiff_t>(at));
}

} // namespace

// 256 uncompressed frames of 32,784 bytes end on 4,096 x 2,049: the frame
// before the short last one becomes two uncompressed blocks.
TEST(LzxHostile, FramesOverALoweredLimitAreCodedAloneOrUncompressedAndReadRight)
{
    const LzxOptions::E8 kOff = LzxOptions::E8::Off, kOn = LzxOptions::E8::On;
    const Fallback inputs[] = {
        {"text, odd last frame", Text(5 * kLzxFrameSize + 101, 50), kOff, SIZE_MAX},
        {"code, translation on", Code(4 * kLzxFrameSize + 3, 4096), kOn, SIZE_MAX},
        {"noise", Noise(3 * kLzxFrameSize + 1, 51), kOff, SIZE_MAX},
        {"a frame unlike its block", UnlikeItsBlock(8, 1, 4, 52), kOff, SIZE_MAX},
        {"repeats across uncompressed frames", RepeatsAcrossUncompressedFrames(), kOff, SIZE_MAX},
        {"257 frames, the last short", Runs(256 * kLzxFrameSize + 100, {1000}, 53), kOff, 255},
    };
    for (const Fallback& in : inputs)
        for (uint32_t limit : {kLzxMaxFrameData, 30000u, 12000u, 1u}) {
            SCOPED_TRACE(std::string(in.what) + ", limit " + std::to_string(limit));
            LzxOptions options;
            options.e8 = in.e8;
            options.frameLimit = limit;
            const std::vector<LzxFrame> frames = Encode(in.data, 17, options);
            EXPECT_EQ("", FrameFault(frames, in.data.size(), limit, in.e8 == kOn));
            for (size_t i = 0, at = 0; limit == 1 && in.e8 == kOff && i < frames.size(); at += frames[i++].uncompressed)
                EXPECT_TRUE(i == in.twoBlocksAtLimitOne
                                ? frames[i].data.size() == UncompressedFrameSize(i, kLzxFrameSize, false) + 16
                                : HoldsItsBytes(frames[i], i, in.data, at, false))
                    << i;
            EXPECT_EQ("", ReadBackFault(frames, in.data, 17));
            const std::vector<LzxFrame> pieces = Encode(in.data, 17, options, 1000);
            EXPECT_TRUE(pieces.size() == frames.size() &&
                        std::equal(frames.begin(), frames.end(), pieces.begin(),
                                   [](const LzxFrame& a, const LzxFrame& b) { return a.data == b.data; }));
        }
}
