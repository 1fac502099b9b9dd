// LZX on the host: our encoder's folders decoded by our decoder and by
// libmspack's cabinet reader (an independent implementation), frame by frame
// across block and frame boundaries, plus damaged input to our decoder.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBlockWriter.h"
#include "tests/support/lzx_inputs.h"
#include "tests/support/lzx_references.h"

using namespace cab32;
using namespace lzxref;
using lzxin::Append;
using lzxin::Code;
using lzxin::Random;
using lzxin::Text;

namespace {

struct RoundTrip
{
    const char* what;
    Bytes data;
    int windowBits;
    LzxOptions::E8 e8;
    bool expectE8;
};

} // namespace

TEST(Lzx, OurDecoderAndLibmspackGiveBackEveryByteAcrossFrameAndBlockBoundaries)
{
    const LzxOptions::E8 kAuto = LzxOptions::E8::Auto, kOn = LzxOptions::E8::On;
    const RoundTrip cases[] = {
        {"empty", {}, 15, kAuto, false},
        {"one byte", {0x41}, 15, kAuto, false},
        {"frame less one", Text(32767, 1), 15, kAuto, false},
        {"one frame", Text(32768, 2), 15, kAuto, false},
        {"frame and one", Text(32769, 3), 15, kAuto, false},
        {"several MB text, small window", Text(3 << 20, 4), 15, kAuto, false},
        {"several MB text, large window", Text(3 << 20, 5), 21, kAuto, false},
        {"machine code", Code(3 << 20), 21, kAuto, true},
        {"machine code, small window", Code(1 << 20), 16, kAuto, true},
        {"text with translation forced", Text(200000, 6), 17, kOn, true},
        {"incompressible", Random(300000, 7), 19, kAuto, false},
        {"E8 bytes at frame ends", Bytes(70000, 0xE8), 17, kOn, true},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.what);
        LzxOptions options;
        options.e8 = c.e8;
        bool e8 = false;
        const std::vector<LzxFrame> frames = Encode(c.data, c.windowBits, options, 0, &e8);
        size_t total = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            const bool last = i + 1 == frames.size();
            EXPECT_EQ(frames[i].uncompressed, last ? c.data.size() - total : kLzxFrameSize);
            EXPECT_EQ(frames[i].data.size() % 2, 0u);
            EXPECT_LE(frames[i].data.size(), kLzxLargestFrame);
            total += frames[i].uncompressed;
        }
        EXPECT_EQ(total, c.data.size());
        if (!c.data.empty())
            EXPECT_EQ(e8, c.expectE8);
        Bytes ours, theirs;
        ASSERT_TRUE(Decode(frames, c.windowBits, ours));
        EXPECT_TRUE(ours == c.data);
        if (c.data.empty())
            continue;
        ASSERT_TRUE(DecodeWithLibmspack(frames, c.data.size(), c.windowBits, theirs));
        EXPECT_TRUE(theirs == c.data);
    }
}

TEST(Lzx, CompressesTextAndCodeAndStaysNearTheInputSizeOnNoise)
{
    size_t text = 0, code = 0, noise = 0;
    for (const LzxFrame& f : Encode(Text(1 << 20, 8), 20))
        text += f.data.size();
    for (const LzxFrame& f : Encode(Code(1 << 20), 20))
        code += f.data.size();
    for (const LzxFrame& f : Encode(Random(1 << 20, 9), 20))
        noise += f.data.size();
    EXPECT_LT(text, (1u << 20) / 4);
    EXPECT_LT(code, (1u << 20) * 6 / 10);
    EXPECT_LT(noise, (1u << 20) * 102 / 100);
}

TEST(Lzx, TheSameFramesForAnyWritePiecesAndOnAnyThread)
{
    Bytes data = Code(600000);
    const Bytes text = Text(400000, 10);
    data.insert(data.end(), text.begin(), text.end());
    const std::vector<LzxFrame> whole = Encode(data, 20);
    auto same = [&whole](const std::vector<LzxFrame>& other) {
        if (other.size() != whole.size())
            return false;
        for (size_t i = 0; i < whole.size(); ++i)
            if (other[i].data != whole[i].data || other[i].uncompressed != whole[i].uncompressed)
                return false;
        return true;
    };
    for (size_t piece : {size_t(1000), size_t(32768), size_t(77777)})
        EXPECT_TRUE(same(Encode(data, 20, LzxOptions(), piece))) << piece;
    std::vector<LzxFrame> a, b;
    std::thread ta([&] { a = Encode(data, 20); });
    std::thread tb([&] { b = Encode(data, 20); });
    ta.join();
    tb.join();
    EXPECT_TRUE(same(a));
    EXPECT_TRUE(same(b));
}

// A hand-made stream with an uncompressed block (made without our writer):
// header bit, block type 3, length 5, padding to the word, R0..R2, the bytes,
// with and without the pad byte that ends an odd block.
TEST(Lzx, DecoderReadsUncompressedBlocksAsLibmspackDoes)
{
    // Bits 0 (no E8), 011 (uncompressed), 24 bits of length 5, 4 bits to the
    // word: 0011 0000 0000 0000, 0000 0000 0101 0000.
    Bytes frame = {0x00, 0x30, 0x50, 0x00};
    for (int i = 0; i < 3; ++i)
        frame.insert(frame.end(), {0x01, 0x00, 0x00, 0x00});
    const Bytes payload = {'h', 'e', 'l', 'l', 'o'};
    frame.insert(frame.end(), payload.begin(), payload.end());
    for (bool pad : {false, true}) {
        if (pad)
            frame.push_back(0);
        const std::vector<LzxFrame> frames = {{frame, 5}};
        Bytes ours, theirs;
        EXPECT_TRUE(Decode(frames, 15, ours) && ours == payload) << pad;
        EXPECT_TRUE(DecodeWithLibmspack(frames, 5, 15, theirs) && theirs == payload) << pad;
    }
}

namespace {

std::vector<lzx::Item> Literals(const Bytes& bytes, size_t from, size_t to)
{
    std::vector<lzx::Item> items;
    for (size_t i = from; i < to; ++i)
        items.push_back({0, bytes[i]});
    return items;
}

} // namespace

// Our writer's uncompressed block after a compressed block ending anywhere in
// a word (its header then ends on every bit of a word, on the word itself
// too: a whole word of padding), odd (a pad byte), with R0 = 5 in its header
// for the match after it.
TEST(Lzx, UncompressedBlocksAfterCompressedOnesEndingAnywhereInAWord)
{
    const int mainSymbols = lzx::kNumChars + lzx::SlotsForWindow(16) * 8;
    const Bytes text = Text(4000, 60), raw = Random(37, 61);
    std::set<size_t> headerEnds;
    for (size_t k = 1; k <= 400 && headerEnds.size() < 16; ++k) {
        lzx::BlockWriter w(mainSymbols);
        w.WriteHeader(false);
        const std::vector<lzx::Item> before = Literals(text, 0, k);
        w.WriteBlock(before.data(), before.size(), static_cast<uint32_t>(k));
        headerEnds.insert((w.FrameBits() + 27) % 16);
        const uint32_t reps[3] = {5, 1, 1};
        w.WriteUncompressed(raw.data(), static_cast<uint32_t>(raw.size()), reps);
        std::vector<lzx::Item> after = {{4, 0}};
        const std::vector<lzx::Item> tail = Literals(text, k, k + 50);
        after.insert(after.end(), tail.begin(), tail.end());
        w.WriteBlock(after.data(), after.size(), 54);
        w.CutPartial();
        const std::vector<LzxFrame> frames(w.Ready().begin(), w.Ready().end());
        Bytes expected(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(k));
        Append(expected, raw);
        for (int i = 0; i < 4; ++i)
            expected.push_back(expected[expected.size() - 5]);
        expected.insert(expected.end(), text.begin() + static_cast<std::ptrdiff_t>(k),
                        text.begin() + static_cast<std::ptrdiff_t>(k + 50));
        Bytes ours, theirs;
        EXPECT_TRUE(Decode(frames, 16, ours) && ours == expected) << k;
        EXPECT_TRUE(DecodeWithLibmspack(frames, expected.size(), 16, theirs) && theirs == expected) << k;
    }
    EXPECT_EQ(16u, headerEnds.size());
}

// A writer put back to a mark before a block (which cut frames) writes the
// same frames as one that never wrote that block.
TEST(Lzx, AWriterPutBackForgetsTheBlockWrittenSinceItsMark)
{
    const int mainSymbols = lzx::kNumChars + lzx::SlotsForWindow(17) * 8;
    const Bytes text = Text(140000, 62);
    const std::vector<lzx::Item> first = Literals(text, 0, 40000), second = Literals(text, 40000, 140000);
    lzx::BlockWriter putBack(mainSymbols), straight(mainSymbols);
    lzx::BlockWriter::Mark mark;
    for (lzx::BlockWriter* w : {&putBack, &straight}) {
        w->WriteHeader(true);
        w->WriteBlock(first.data(), first.size(), 40000);
    }
    putBack.Save(mark);
    putBack.WriteBlock(second.data(), second.size(), 100000);
    EXPECT_LT(mark.ready, putBack.Ready().size());
    putBack.Restore(mark);
    const uint32_t reps[3] = {1, 1, 1};
    for (lzx::BlockWriter* w : {&putBack, &straight}) {
        w->WriteBlock(second.data(), 30000, 30000);
        w->WriteUncompressed(text.data() + 70000, 70000, reps);
        w->CutPartial();
    }
    const std::vector<LzxFrame> a(putBack.Ready().begin(), putBack.Ready().end());
    const std::vector<LzxFrame> b(straight.Ready().begin(), straight.Ready().end());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_TRUE(a[i].data == b[i].data && a[i].uncompressed == b[i].uncompressed) << i;
    Bytes ours, theirs;
    EXPECT_TRUE(Decode(a, 17, ours) && ours == text);
    EXPECT_TRUE(DecodeWithLibmspack(a, text.size(), 17, theirs) && theirs == text);
}

TEST(Lzx, DamagedFramesAreRejectedOrDecodedWithoutHarm)
{
    const Bytes data = Code(200000);
    const std::vector<LzxFrame> good = Encode(data, 18);
    Bytes out;
    ASSERT_TRUE(Decode(good, 18, out));

    struct Damage
    {
        const char* what;
        std::function<void(std::vector<LzxFrame>&)> apply;
    };
    const Damage cuts[] = {
        {"frame cut short", [](std::vector<LzxFrame>& f) { f[1].data.resize(f[1].data.size() / 2); }},
        {"frame with two bytes more", [](std::vector<LzxFrame>& f) { f[2].data.insert(f[2].data.end(), 2, 0); }},
        {"frame emptied", [](std::vector<LzxFrame>& f) { f[0].data.clear(); }},
        {"frame longer than its bytes", [](std::vector<LzxFrame>& f) { f.back().uncompressed += 1; }},
        {"short frame in the middle", [](std::vector<LzxFrame>& f) { f[1].uncompressed -= 1; }},
        {"a frame missing", [](std::vector<LzxFrame>& f) { f.erase(f.begin() + 1); }},
    };
    for (const Damage& d : cuts) {
        std::vector<LzxFrame> bad = good;
        d.apply(bad);
        EXPECT_FALSE(Decode(bad, 18, out) && out == data) << d.what;
    }
    // Random bit flips: a flip may still decode, but never to the original
    // bytes from a frame that differs, and never out of bounds (the sanitizers watch).
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        std::vector<LzxFrame> bad = good;
        LzxFrame& f = bad[rng() % bad.size()];
        f.data[rng() % f.data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        Decode(bad, 18, out);
    }
}

TEST(Lzx, WindowBitsForAFolderAndTheFolderType)
{
    const struct
    {
        uint64_t bytes;
        int bits;
    } cases[] = {{0, 15}, {32768, 15}, {32769, 16}, {1u << 20, 20}, {(1u << 20) + 1, 21}, {1ull << 31, 21}};
    for (const auto& c : cases)
        EXPECT_EQ(LzxWindowBitsFor(c.bytes), c.bits) << c.bytes;
    EXPECT_EQ(LzxTypeCompress(21), 0x1503);
    EXPECT_EQ(LzxWindowBitsOf(0x1503), 21);
    EXPECT_EQ(LzxWindowBitsOf(0x0F03), 15);
    EXPECT_EQ(LzxWindowBitsOf(0x1603), 0);
    EXPECT_EQ(LzxWindowBitsOf(0x0E03), 0);
    EXPECT_EQ(LzxWindowBitsOf(0x0001), 0);
}
