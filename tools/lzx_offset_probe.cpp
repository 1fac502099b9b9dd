// Not a test: writes one-file LZX cabinets whose matches reach exactly
// 'window - less' bytes back, for each window given and each 'less' from 3 to
// 16, so that extractors can be tried on every offset near the window
// (tools/lzx-offset-probe.sh runs them). Each file is noise that repeats with
// that period, long enough for the copies to wrap around the window at every
// place; the encoder's offset reserve is lowered to 'less' for it.
//   build/host/tools/lzx_offset_probe <folder> <window bits ...>
// Writes <folder>/w<bits>-less<nn>.cab and .bin (the file it holds) and prints
// the largest offset each stream uses.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cab32/codec/Lzx.h"
#include "tests/support/lzx_inputs.h"
#include "tests/support/lzx_references.h"

using namespace cab32;

namespace {

void Save(const std::string& path, const lzxin::Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The cabinet for one window and offset; false when the stream does not use
// that offset or does not decode.
bool Probe(const std::string& folder, int bits, int less)
{
    const size_t window = size_t(1) << bits, period = window - static_cast<size_t>(less);
    const lzxin::Bytes one = lzxin::Noise(period, static_cast<uint32_t>(bits * 100 + less));
    lzxin::Bytes data;
    while (data.size() < 2 * window + window / 2 + 999)
        lzxin::Append(data, one);
    LzxOptions options;
    options.offsetReserve = less;
    options.chainBits = bits; // matches reach the whole window
    options.headBits = bits;  // noise: a bucket a position, so that each still holds the copy a period back
    options.e8 = LzxOptions::E8::Off;
    const std::vector<LzxFrame> frames = lzxref::Encode(data, bits, options);
    lzxin::Bytes decoded;
    uint32_t largest = 0;
    const bool ok = lzxref::Decode(frames, bits, decoded, &largest) && decoded == data && largest == period;
    char name[64];
    std::snprintf(name, sizeof(name), "%s/w%d-less%02d", folder.c_str(), bits, less);
    Save(std::string(name) + ".cab", lzxref::Cabinet(frames, data.size(), bits));
    Save(std::string(name) + ".bin", data);
    std::printf("%s: %zu bytes, period %zu, largest offset %u%s\n", name, data.size(), period, largest,
                ok ? "" : " (NOT the period: no probe)");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: lzx_offset_probe <folder> <window bits ...>\n");
        return 2;
    }
    bool ok = true;
    for (int i = 2; i < argc; ++i)
        for (int less = 3; less <= 16; ++less)
            ok = Probe(argv[1], std::atoi(argv[i]), less) && ok;
    return ok ? 0 : 1;
}
