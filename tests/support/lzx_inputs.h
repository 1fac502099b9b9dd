// Inputs that make the LZX encoder work hard, for the host tests and the
// encoder's fuzzer: text, noise, machine code, and the shapes that once broke
// it (a frame unlike the rest of its block, skewed alphabets, periods near the
// window, runs at the longest match, E8 bytes at frame ends). Same bytes for
// the same arguments.
#pragma once

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "cab32/codec/Lzx.h"

namespace lzxin {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

// C-like words and punctuation.
inline Bytes Text(size_t size, uint32_t seed)
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

// Bytes drawn evenly from [low, low + count).
inline Bytes Noise(size_t size, uint32_t seed, unsigned low = 0, unsigned count = 256)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = static_cast<uint8_t>(low + rng() % count);
    return out;
}

inline Bytes Random(size_t size, uint32_t seed)
{
    return Noise(size, seed);
}

// Noise written out in base64's alphabet.
inline Bytes Base64(size_t size, uint32_t seed)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out = Noise(size, seed, 0, 64);
    for (size_t i = 0; i < size; ++i)
        out[i] = (i % 77 == 76) ? '\n' : static_cast<uint8_t>(kAlphabet[out[i]]);
    return out;
}

// Byte k drawn with weight 2^-k (k < 24): the rare bytes get the longest codes.
inline Bytes Skewed(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) {
        const uint32_t r = rng() | 1u << 23;
        b = static_cast<uint8_t>(__builtin_ctz(r));
    }
    return out;
}

// The running program's own machine code (past its first 512 KiB of symbol
// and relocation tables): calls (E8) everywhere.
inline Bytes Code(size_t size, size_t from = 0)
{
    static const Bytes image = [] {
        std::ifstream f("/proc/self/exe", std::ios::binary);
        Bytes all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(512 * 1024, all.size())));
        return all;
    }();
    if (image.empty())
        return Bytes(size, 0xE8);
    Bytes out;
    for (size_t at = from % image.size(); out.size() < size; at = 0)
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                   image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), at + size - out.size())));
    return out;
}

// 'size' bytes that repeat every 'period' bytes: each period 8 KiB of noise
// (found again at offset 'period' by any match search: its prefixes occur
// once a period) and text.
inline Bytes Periodic(size_t size, size_t period, uint32_t seed)
{
    Bytes one = Noise(std::min<size_t>(period, 8192), seed);
    Append(one, Text(period - one.size(), seed + 1));
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = one[i % period];
    return out;
}

// Runs of one byte whose lengths come from 'lengths' in turn, each run's byte
// differing from the last.
inline Bytes Runs(size_t size, const std::vector<size_t>& lengths, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    uint8_t value = 0;
    for (size_t i = 0; out.size() < size; ++i) {
        value = static_cast<uint8_t>(value + 1 + rng() % 255);
        out.insert(out.end(), std::min(lengths[i % lengths.size()], size - out.size()), value);
    }
    return out;
}

// Frames of noise over bytes 0..55, frame 'odd' of each group of 'group'
// frames over bytes 56..255 instead: under one set of trees for the group,
// that frame's bytes cost about 10 bits each (the 56 common bytes take most
// of the code space).
inline Bytes UnlikeItsBlock(size_t frames, size_t odd, size_t group, uint32_t seed)
{
    Bytes out;
    for (size_t f = 0; f < frames; ++f)
        Append(out, f % group == odd ? Noise(cab32::kLzxFrameSize, seed + f, 56, 200)
                                     : Noise(cab32::kLzxFrameSize, seed + f, 0, 56));
    return out;
}

// Text frames, each with an E8 and its operand placed 'fromEnd' bytes before
// its frame's end (the operand may run past it), fromEnd going 16 .. 1.
inline Bytes E8NearFrameEnds(uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out = Text(17 * cab32::kLzxFrameSize + 5, seed);
    for (uint32_t k = 0; k < 16; ++k) {
        const size_t at = (k + 1) * cab32::kLzxFrameSize - (16 - k);
        const uint32_t target = k % 2 ? static_cast<uint32_t>(-static_cast<int32_t>(at) + k) : 12000000u - k;
        out[at] = 0xE8;
        for (size_t i = 1; i <= 4 && at + i < out.size(); ++i)
            out[at + i] = static_cast<uint8_t>((rng() % 3 ? target : rng()) >> (8 * (i - 1)));
    }
    for (size_t i = out.size() - 12; i < out.size(); i += 3)
        out[i] = 0xE8;
    return out;
}

} // namespace lzxin
