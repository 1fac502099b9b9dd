// LZX on the host: our encoder's folders decoded by our decoder and by
// libmspack's cabinet reader (an independent implementation), frame by frame
// across block and frame boundaries, plus damaged input to our decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

#include <mspack.h>

#include "cab32/CabFormat.h"
#include "cab32/Lzx.h"

using namespace cab32;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"static ", "int ",   "return ", "struct ",    "const ", "char* ",
                                         "if (",    ") {\n",  "}\n",     "#include <", ".h>\n",  "size_t ",
                                         "void ",   "buffer", "length",  "_t ",        "= 0;\n", "    "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char* w = kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
        out.insert(out.end(), w, w + std::strlen(w));
        if (rng() % 7 == 0)
            out.push_back(static_cast<uint8_t>('a' + rng() % 26));
    }
    out.resize(size);
    return out;
}

Bytes Random(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

// This test program's own machine code (past its first 512 KiB of symbol and
// relocation tables): calls (E8) everywhere.
Bytes Code(size_t size)
{
    std::ifstream f("/proc/self/exe", std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t skip = std::min<size_t>(512 * 1024, out.size());
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(skip));
    out.resize(std::min(size, out.size()));
    return out;
}

std::vector<LzxFrame> Encode(const Bytes& in, int windowBits, const LzxOptions& options = LzxOptions(),
                             size_t piece = 0, bool* e8 = nullptr)
{
    LzxEncoder encoder(windowBits, options);
    for (size_t at = 0; at < in.size();) {
        const size_t n = piece ? std::min(piece, in.size() - at) : in.size();
        encoder.Write(in.data() + at, n);
        at += n;
    }
    encoder.Finish();
    std::vector<LzxFrame> frames;
    LzxFrame frame;
    while (encoder.TakeFrame(frame))
        frames.push_back(frame);
    if (e8)
        *e8 = encoder.E8Enabled();
    return frames;
}

// Decodes with our decoder; false at the first frame it rejects.
bool Decode(const std::vector<LzxFrame>& frames, int windowBits, Bytes& out)
{
    LzxDecoder decoder(windowBits);
    out.clear();
    for (const LzxFrame& f : frames) {
        const size_t at = out.size();
        out.resize(at + f.uncompressed);
        if (!decoder.DecodeFrame(f.data.data(), f.data.size(), out.data() + at, f.uncompressed))
            return false;
    }
    return true;
}

// A one-file, one-folder cabinet holding the frames.
Bytes Cabinet(const std::vector<LzxFrame>& frames, size_t size, int windowBits)
{
    const char name[] = "f.bin";
    const size_t tables = kHeaderSize + kFolderSize + kFileFixedSize + sizeof(name);
    Bytes cab(tables);
    for (const LzxFrame& f : frames) {
        uint8_t head[kDataHeaderSize];
        const CabData d{
            DataChecksum(f.data.data(), static_cast<uint16_t>(f.data.size()), static_cast<uint16_t>(f.uncompressed)),
            static_cast<uint16_t>(f.data.size()), static_cast<uint16_t>(f.uncompressed)};
        EncodeData(d, head);
        cab.insert(cab.end(), head, head + kDataHeaderSize);
        cab.insert(cab.end(), f.data.begin(), f.data.end());
    }
    CabHeader h;
    h.cbCabinet = static_cast<uint32_t>(cab.size());
    h.coffFiles = kHeaderSize + kFolderSize;
    h.cFolders = 1;
    h.cFiles = 1;
    EncodeHeader(h, cab.data());
    const CabFolder folder{static_cast<uint32_t>(tables), static_cast<uint16_t>(frames.size()),
                           LzxTypeCompress(windowBits)};
    EncodeFolder(folder, cab.data() + kHeaderSize);
    CabFile file;
    file.cbFile = static_cast<uint32_t>(size);
    file.date = 0x5821;
    file.attribs = kAttrArchive;
    EncodeFile(file, cab.data() + kHeaderSize + kFolderSize);
    std::memcpy(cab.data() + kHeaderSize + kFolderSize + kFileFixedSize, name, sizeof(name));
    return cab;
}

// The file extracted by libmspack from the frames; false when it refuses.
bool DecodeWithLibmspack(const std::vector<LzxFrame>& frames, size_t size, int windowBits, Bytes& out)
{
    const std::string dir = ::testing::TempDir();
    const std::string cabPath = dir + "lzx_" + std::to_string(getpid()) + ".cab";
    const std::string outPath = cabPath + ".out";
    const Bytes cab = Cabinet(frames, size, windowBits);
    std::ofstream(cabPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(cab.data()), static_cast<std::streamsize>(cab.size()));
    mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
    mscabd_cabinet* opened = cabd->open(cabd, cabPath.c_str());
    bool ok = opened && opened->files && cabd->extract(cabd, opened->files, outPath.c_str()) == MSPACK_ERR_OK;
    if (opened)
        cabd->close(cabd, opened);
    mspack_destroy_cab_decompressor(cabd);
    std::ifstream f(outPath, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    std::remove(cabPath.c_str());
    std::remove(outPath.c_str());
    return ok;
}

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
            EXPECT_LE(frames[i].data.size(), kLzxMaxFrameData);
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

// A hand-made stream with an uncompressed block (our encoder never writes
// one): header bit, block type 3, length 5, padding to the word, R0..R2, the
// bytes and a pad byte, then a verbatim block would follow.
TEST(Lzx, DecoderReadsUncompressedBlocksAsLibmspackDoes)
{
    // Bits 0 (no E8), 011 (uncompressed), 24 bits of length 5, 4 bits to the
    // word: 0011 0000 0000 0000, 0000 0000 0101 0000.
    Bytes frame = {0x00, 0x30, 0x50, 0x00};
    for (int i = 0; i < 3; ++i)
        frame.insert(frame.end(), {0x01, 0x00, 0x00, 0x00});
    const Bytes payload = {'h', 'e', 'l', 'l', 'o'};
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::vector<LzxFrame> frames = {{frame, 5}};
    Bytes ours, theirs;
    ASSERT_TRUE(Decode(frames, 15, ours));
    EXPECT_TRUE(ours == payload);
    ASSERT_TRUE(DecodeWithLibmspack(frames, 5, 15, theirs));
    EXPECT_TRUE(theirs == payload);
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
