// Feeds arbitrary frames to the LZX decoder: it must reject damage with false,
// never read or write out of bounds, crash or hang. Input: one byte for the
// window, then frames, each as its payload size (2 bytes, little-endian), its
// uncompressed size less one (2 bytes, low 15 bits) and the payload.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cab32/codec/Lzx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    cab32::LzxDecoder decoder(cab32::kLzxMinWindowBits + data[0] % 7);
    std::vector<uint8_t> out(cab32::kLzxFrameSize);
    size_t at = 1;
    while (size - at >= 4) {
        const size_t len = data[at] | data[at + 1] << 8;
        const size_t outLen = ((data[at + 2] | data[at + 3] << 8) & 0x7FFF) + 1;
        at += 4;
        if (len > size - at || !decoder.DecodeFrame(data + at, len, out.data(), outLen))
            break;
        at += len;
    }
    return 0;
}
