// Feeds the LZX encoder folders built from structured pieces (noise over any
// part of the byte range, text, base64, machine code, runs, periods near the
// window and short ones, far copies, abrupt changes at a frame's start):
// every frame must stay within what readers accept (or the lowered limit),
// no match offset may pass the cap, and our decoder and libmspack's must give
// every byte back. Input: the window (15 + byte % 7), a byte of switches, then
// pieces of four bytes: kind, length in 16-byte units (the low 12 bits of 2
// bytes, little-endian, plus one: up to 64 KiB), a parameter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cab32/codec/Lzx.h"
#include "tests/support/lzx_inputs.h"
#include "tests/support/lzx_references.h"

using namespace cab32;
using lzxin::Append;
using lzxin::Bytes;

namespace {

constexpr size_t kMaxFolder = 3 << 20;

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// A seed for noise: the piece's parameter and where it goes (two pieces with
// one parameter are different noise).
uint32_t Seed(const Bytes& out, unsigned param)
{
    return static_cast<uint32_t>(param + out.size() * 31);
}

// Pads to the next frame with noise over bytes [0, k), then goes on over [k, 256).
void AbruptChange(Bytes& out, size_t length, unsigned param)
{
    const unsigned k = 8 + param % 120;
    const size_t pad = (kLzxFrameSize - out.size() % kLzxFrameSize) % kLzxFrameSize;
    Append(out, lzxin::Noise(pad, Seed(out, param), 0, k));
    Append(out, lzxin::Noise(length, Seed(out, param), k, 256 - k));
}

// A period a few bytes under the window (param < 128) or a short one.
size_t PeriodOf(int windowBits, unsigned param)
{
    return param < 128 ? (size_t(1) << windowBits) - (2 + param % 22) : 1 + (param - 128) * 37;
}

void AddPiece(Bytes& out, int windowBits, uint8_t kind, size_t length, unsigned param)
{
    switch (kind % 8) {
    case 0: {
        // 2 .. 254 values at the bottom, a third, two thirds or the top of the byte range.
        const unsigned count = 2 + (param & 63) * 4;
        Append(out, lzxin::Noise(length, Seed(out, param), (param >> 6) * (256 - count) / 3, count));
        break;
    }
    case 1: Append(out, lzxin::Text(length, param)); break;
    case 2: Append(out, lzxin::Code(length, size_t(param) * 4096)); break;
    case 3: Append(out, lzxin::Runs(length, {257u * (1 + param % 4), param + 1u, 258, 255}, param)); break;
    case 4: {
        const size_t period = PeriodOf(windowBits, param);
        Append(out, lzxin::Periodic(period + length, period, param));
        break;
    }
    case 5: AbruptChange(out, length, param); break;
    case 6: Append(out, lzxin::Base64(length, Seed(out, param))); break;
    default: {
        const size_t back = size_t(param) * 1024 + 1;
        for (size_t i = 0; i < length && back <= out.size(); ++i)
            out.push_back(out[out.size() - back]);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t size)
{
    if (size < 2)
        return 0;
    const int windowBits = kLzxMinWindowBits + in[0] % 7;
    const uint8_t flags = in[1];
    static const LzxOptions::E8 kE8[] = {LzxOptions::E8::Auto, LzxOptions::E8::On, LzxOptions::E8::Off,
                                         LzxOptions::E8::Auto};
    static const uint32_t kLimits[] = {kLzxLargestFrame, kLzxMaxFrameData, 14000, 1};
    static const size_t kPieces[] = {0, 0, 1000, 77777};
    LzxOptions options;
    options.e8 = kE8[flags & 3];
    options.frameLimit = kLimits[(flags >> 2) & 3];
    options.chainBits = flags & 0x40 ? 21 : 20;
    Bytes data;
    for (size_t at = 2; at + 4 <= size && data.size() < kMaxFolder; at += 4) {
        const size_t length = (((in[at + 1] | in[at + 2] << 8) & 4095) + 1) * 16;
        AddPiece(data, windowBits, in[at], std::min(length, kMaxFolder - data.size()), in[at + 3]);
    }
    data.resize(std::min(data.size(), kMaxFolder));
    bool e8 = false;
    const std::vector<LzxFrame> frames = lzxref::Encode(data, windowBits, options, kPieces[(flags >> 4) & 3], &e8);
    Check(lzxref::FrameFault(frames, data.size(), options.frameLimit, e8).empty());
    if (kPieces[(flags >> 4) & 3] != 0) {
        const std::vector<LzxFrame> whole = lzxref::Encode(data, windowBits, options);
        Check(whole.size() == frames.size());
        for (size_t i = 0; i < whole.size(); ++i)
            Check(whole[i].data == frames[i].data);
    }
    Bytes ours, theirs;
    uint32_t largestOffset = 0;
    Check(lzxref::Decode(frames, windowBits, ours, &largestOffset) && ours == data);
    Check(largestOffset <= (1u << windowBits) - kLzxOffsetReserve);
    if (!data.empty())
        Check(lzxref::DecodeWithLibmspack(frames, data.size(), windowBits, theirs) && theirs == data);
    return 0;
}
