// Feeds arbitrary bytes to the cabinet verifier as if they were a cabinet read
// back from disk: it must reject damage with an error, never crash or hang.
#include <cstddef>
#include <cstdint>

#include "cab32/CabVerifier.h"
#include "tests/fuzz/MemorySource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemorySource source(data, size);
    cab32::VerifiedCabinet result;
    cab32::VerifyCabinet(source, result);
    return 0;
}
