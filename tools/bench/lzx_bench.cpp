// Not a test: prints the LZX encoder's speed and size on one file (say a tar
// of /usr/include) next to MSZIP (zlib level 6, the previous 32 KiB block as
// dictionary), one core each, and the decoder's speed.
//   build/host/tools/lzx_bench <file> [chain depth ...]
// With --folders, what cutting a tree into folders costs: the files named in
// LIST (one path a line, in the cabinet's order) encoded as the archiver cuts
// them, a folder ending before a file that would take it past each size.
//   build/host/tools/lzx_bench --folders <list> <folder bytes ...>
#include <chrono>
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

void Report(const char* what, size_t in, size_t out, double seconds)
{
    std::printf("%-28s %8.1f MB/s  %6.2f %%  (%zu -> %zu bytes, %.2f s)\n", what, in / seconds / 1e6, 100.0 * out / in,
                in, out, seconds);
}

bool Lzx(const std::vector<uint8_t>& in, int depth)
{
    const int bits = LzxWindowBitsFor(in.size());
    LzxOptions options;
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

// Encodes files[i, j) as one folder; returns its frames' bytes with their CFDATA headers.
size_t EncodeFolder(const std::vector<std::vector<uint8_t>>& files, size_t i, size_t j, uint64_t bytes)
{
    LzxEncoder encoder(LzxWindowBitsFor(bytes), bytes);
    LzxFrame frame;
    size_t out = 0;
    for (size_t k = i; k < j; ++k) {
        encoder.Write(files[k].data(), files[k].size());
        while (encoder.TakeFrame(frame))
            out += frame.data.size() + kDataHeaderSize;
    }
    encoder.Finish();
    while (encoder.TakeFrame(frame))
        out += frame.data.size() + kDataHeaderSize;
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
    for (int a = 3; a < argc && total > 0; ++a) {
        const uint64_t cut = std::strtoull(argv[a], nullptr, 10);
        const auto start = std::chrono::steady_clock::now();
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
        Report(label, total, out, Seconds(start));
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
