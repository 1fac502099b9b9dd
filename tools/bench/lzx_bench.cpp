// Not a test: prints the LZX encoder's speed and size on one file (say a tar
// of /usr/include) next to MSZIP (zlib level 6, the previous 32 KiB block as
// dictionary), one core each, and the decoder's speed.
//   build/host/tools/lzx_bench <file> [chain depth ...]
// With --folders, what cutting a tree into folders costs: the files named in
// LIST (one path a line, in the cabinet's order) encoded as the archiver cuts
// them, a folder ending before a file that would take it past each size.
//   build/host/tools/lzx_bench --folders <list> <folder bytes ...> [option=value ...]
// where the options are depth, nice, good, lazy, heads, near, frames, reach,
// split, piece, optimal, passes and every (LzxOptions' chainDepth,
// niceLength, goodLength, lazyLength, headBits, nearBits, blockFrames,
// chainBits, splitBlocks, splitPieceBytes, leastCost, parsePasses and
// everyLength). Each folder is decoded again and compared; the encoder alone
// is timed, in CPU seconds; where the bits went is printed after.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Lzx.h"
#include "cab32/codec/Mszip.h"

using namespace cab32;

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Seconds of CPU this process has used: on a loaded machine a truer measure
// of one core's speed than the clock on the wall.
double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

LzxOptions g_options; // the encoder's settings from the command line

void Report(const char* what, size_t in, size_t out, double seconds)
{
    std::printf("%-28s %8.1f MB/s  %6.2f %%  (%zu -> %zu bytes, %.2f s)\n", what, in / seconds / 1e6, 100.0 * out / in,
                in, out, seconds);
}

bool Lzx(const std::vector<uint8_t>& in, int depth)
{
    const int bits = LzxWindowBitsFor(in.size());
    LzxOptions options = g_options;
    options.chainDepth = depth;
    LzxEncoder encoder(bits, in.size(), options);
    std::vector<LzxFrame> frames;
    auto start = std::chrono::steady_clock::now();
    size_t out = 0;
    LzxFrame frame;
    for (size_t at = 0; at < in.size(); at += kLzxFrameSize) {
        encoder.Write(in.data() + at, std::min<size_t>(kLzxFrameSize, in.size() - at));
        while (encoder.TakeFrame(frame)) {
            out += frame.data.size();
            frames.push_back(std::move(frame));
        }
    }
    encoder.Finish();
    while (encoder.TakeFrame(frame)) {
        out += frame.data.size();
        frames.push_back(std::move(frame));
    }
    char label[64];
    std::snprintf(label, sizeof(label), "LZX window %d, depth %d", bits, depth);
    Report(label, in.size(), out, Seconds(start));

    start = std::chrono::steady_clock::now();
    LzxDecoder decoder(bits);
    std::vector<uint8_t> buf(kLzxFrameSize);
    size_t at = 0;
    for (const LzxFrame& f : frames) {
        if (!decoder.DecodeFrame(f.data.data(), f.data.size(), buf.data(), f.uncompressed) ||
            std::memcmp(buf.data(), in.data() + at, f.uncompressed) != 0)
            return false;
        at += f.uncompressed;
    }
    Report("  decoding it", in.size(), out, Seconds(start));
    return at == in.size();
}

void Mszip(const std::vector<uint8_t>& in)
{
    MszipEncoder encoder(6);
    std::vector<uint8_t> block(kMaxBlockData);
    const auto start = std::chrono::steady_clock::now();
    size_t out = 0;
    for (size_t at = 0; at < in.size(); at += kBlockSize) {
        const size_t history = at >= kBlockSize ? kBlockSize : 0;
        size_t len = 0;
        encoder.Encode(in.data() + at - history, history, in.data() + at, std::min<size_t>(kBlockSize, in.size() - at),
                       block.data(), len);
        out += len;
    }
    Report("MSZIP (zlib 6, 32 KiB history)", in.size(), out, Seconds(start));
}

LzxBitCounts g_bits;
double g_encodeSeconds = 0;
bool g_decodedWrong = false;

void AddBits(const LzxBitCounts& b)
{
    g_bits.literals += b.literals;
    g_bits.matchSymbols += b.matchSymbols;
    g_bits.lengths += b.lengths;
    g_bits.offsets += b.offsets;
    g_bits.headers += b.headers;
    g_bits.uncompressed += b.uncompressed;
    g_bits.padding += b.padding;
    g_bits.matches += b.matches;
    g_bits.repeats += b.repeats;
    g_bits.blocks += b.blocks;
    g_bits.alignedBlocks += b.alignedBlocks;
}

void PrintBits()
{
    const LzxBitCounts& b = g_bits;
    std::printf("  bytes: literals %llu, match symbols %llu, lengths %llu, offsets %llu, headers %llu, "
                "uncompressed %llu, padding %llu\n"
                "  matches %llu (%llu repeated), blocks %llu (%llu aligned)\n",
                static_cast<unsigned long long>(b.literals / 8), static_cast<unsigned long long>(b.matchSymbols / 8),
                static_cast<unsigned long long>(b.lengths / 8), static_cast<unsigned long long>(b.offsets / 8),
                static_cast<unsigned long long>(b.headers / 8), static_cast<unsigned long long>(b.uncompressed / 8),
                static_cast<unsigned long long>(b.padding / 8), static_cast<unsigned long long>(b.matches),
                static_cast<unsigned long long>(b.repeats), static_cast<unsigned long long>(b.blocks),
                static_cast<unsigned long long>(b.alignedBlocks));
    g_bits = LzxBitCounts();
}

// Reads name=value into the options; false for an unknown name.
bool SetOption(const char* arg)
{
    static const struct
    {
        const char* name;
        int LzxOptions::*field;
    } kFields[] = {{"depth", &LzxOptions::chainDepth},   {"nice", &LzxOptions::niceLength},
                   {"good", &LzxOptions::goodLength},    {"heads", &LzxOptions::headBits},
                   {"near", &LzxOptions::nearBits},      {"lazy", &LzxOptions::lazyLength},
                   {"frames", &LzxOptions::blockFrames}, {"reach", &LzxOptions::chainBits},
                   {"passes", &LzxOptions::parsePasses}, {"piece", &LzxOptions::splitPieceBytes}};
    static const struct
    {
        const char* name;
        bool LzxOptions::*field;
    } kFlags[] = {
        {"split", &LzxOptions::splitBlocks}, {"every", &LzxOptions::everyLength}, {"optimal", &LzxOptions::leastCost}};
    const char* eq = std::strchr(arg, '=');
    if (!eq)
        return false;
    const std::string name(arg, eq);
    for (const auto& f : kFlags)
        if (name == f.name) {
            g_options.*f.field = std::atoi(eq + 1) != 0;
            return true;
        }
    for (const auto& f : kFields)
        if (name == f.name) {
            g_options.*f.field = std::atoi(eq + 1);
            return true;
        }
    return false;
}

// Encodes files[i, j) as one folder (timing the encoder alone), decodes it
// and compares; returns its frames' bytes with their CFDATA headers.
size_t EncodeFolder(const std::vector<std::vector<uint8_t>>& files, size_t i, size_t j, uint64_t bytes)
{
    const double start = CpuSeconds();
    LzxEncoder encoder(LzxWindowBitsFor(bytes), bytes, g_options);
    std::vector<LzxFrame> frames;
    LzxFrame frame;
    for (size_t k = i; k < j; ++k) {
        encoder.Write(files[k].data(), files[k].size());
        while (encoder.TakeFrame(frame))
            frames.push_back(std::move(frame));
    }
    encoder.Finish();
    while (encoder.TakeFrame(frame))
        frames.push_back(std::move(frame));
    g_encodeSeconds += CpuSeconds() - start;
    AddBits(encoder.BitCounts());
    std::vector<uint8_t> folder, decoded;
    for (size_t k = i; k < j; ++k)
        folder.insert(folder.end(), files[k].begin(), files[k].end());
    LzxDecoder decoder(LzxWindowBitsFor(bytes));
    size_t out = 0;
    for (const LzxFrame& f : frames) {
        const size_t at = decoded.size();
        decoded.resize(at + f.uncompressed);
        g_decodedWrong |= f.data.size() > kLzxLargestFrame ||
                          !decoder.DecodeFrame(f.data.data(), f.data.size(), decoded.data() + at, f.uncompressed);
        out += f.data.size() + kDataHeaderSize;
    }
    g_decodedWrong |= decoded != folder;
    return out;
}

// The size of the listed files cut into folders of at most each given size.
int Folders(int argc, char** argv)
{
    std::ifstream list(argv[2]);
    std::vector<std::vector<uint8_t>> files;
    uint64_t total = 0;
    for (std::string path; std::getline(list, path);) {
        std::ifstream f(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        total += files.back().size();
    }
    for (int a = 3; a < argc; ++a)
        if (std::strchr(argv[a], '=') && !SetOption(argv[a])) {
            std::fprintf(stderr, "unknown option %s\n", argv[a]);
            return 2;
        }
    for (int a = 3; a < argc && total > 0; ++a) {
        if (std::strchr(argv[a], '='))
            continue;
        const uint64_t cut = std::strtoull(argv[a], nullptr, 10);
        g_encodeSeconds = 0;
        size_t out = 0, folders = 0;
        for (size_t i = 0, j = 0; i < files.size(); i = j, ++folders) {
            uint64_t bytes = 0;
            while (j < files.size() && (bytes == 0 || bytes + files[j].size() <= cut))
                bytes += files[j++].size();
            out += EncodeFolder(files, i, j, bytes);
        }
        char label[64];
        std::snprintf(label, sizeof(label), "folders of %llu bytes: %zu", static_cast<unsigned long long>(cut),
                      folders);
        Report(label, total, out, g_encodeSeconds);
        PrintBits();
        if (g_decodedWrong) {
            std::printf("decoded bytes differ or a frame is too large\n");
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--folders") == 0)
        return Folders(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: lzx_bench <file> [chain depth ...]\n");
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary);
    const std::vector<uint8_t> in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (in.empty())
        return 2;
    Mszip(in);
    std::vector<int> depths;
    for (int i = 2; i < argc; ++i)
        depths.push_back(std::atoi(argv[i]));
    if (depths.empty())
        depths.push_back(LzxOptions().chainDepth);
    for (int depth : depths)
        if (!Lzx(in, depth)) {
            std::printf("decoded bytes differ\n");
            return 1;
        }
    return 0;
}
