// Feeds arbitrary bytes to the cabinet verifier as if they were a cabinet read
// back from disk: it must reject damage with an error, never crash or hang.
// Before that, every CFDATA checksum the input's own tables lead to is
// recomputed, so that mutations get past the checksums into the file table,
// the folder and the set checks and the decoder (the seeds are our own
// cabinets: several folders, members of a set).
#include <cstddef>
#include <cstdint>
#include <string>

#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "tests/support/MemorySource.h"

namespace {

using namespace cab32;

uint32_t Le(const std::string& b, size_t at, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}

// Offset just past the NUL that ends the string at 'at', or npos.
size_t SkipString(const std::string& b, size_t at)
{
    size_t nul = b.find('\0', at);
    return nul == std::string::npos ? std::string::npos : nul + 1;
}

// Rewrites the checksum of every CFDATA that the folder records reach.
void FixChecksums(std::string& b)
{
    if (b.size() < kHeaderSize)
        return;
    const uint16_t flags = static_cast<uint16_t>(Le(b, 30, 2));
    const uint16_t folders = static_cast<uint16_t>(Le(b, 26, 2));
    size_t at = kHeaderSize;
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet}) {
        if ((flags & flag) == 0)
            continue;
        for (int name = 0; name < 2 && at != std::string::npos; ++name)
            at = SkipString(b, at);
    }
    for (uint16_t f = 0; f < folders && at != std::string::npos && at + kFolderSize <= b.size();
         ++f, at += kFolderSize) {
        size_t block = Le(b, at, 4);
        const uint32_t blocks = Le(b, at + 4, 2);
        for (uint32_t i = 0; i < blocks && block + kDataHeaderSize <= b.size(); ++i) {
            const uint16_t cbData = static_cast<uint16_t>(Le(b, block + 4, 2));
            const uint16_t cbUncomp = static_cast<uint16_t>(Le(b, block + 6, 2));
            if (block + kDataHeaderSize + cbData > b.size())
                break;
            const uint32_t sum =
                DataChecksum(reinterpret_cast<const uint8_t*>(&b[block + kDataHeaderSize]), cbData, cbUncomp);
            for (int k = 0; k < 4; ++k)
                b[block + k] = static_cast<char>(sum >> (8 * k));
            block += kDataHeaderSize + cbData;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FixChecksums(bytes);
    MemorySource source(bytes);
    VerifiedCabinet result;
    VerifyCabinet(source, result);
    return 0;
}
