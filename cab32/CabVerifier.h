#pragma once

#include <cstdint>
#include <vector>

#include "cab32/CabError.h"
#include "cab32/CabIo.h"
#include "cab32/CabWriter.h"

// Reads a single-cabinet MSZIP or stored cabinet back and checks it the way an
// extractor would use it: the header and its reserved fields, the placement of
// every record, every block's checksum and size, and that each folder
// decompresses to exactly the extent its files claim. Damaged input of any
// kind gives CAB_E_VERIFY_FAILED, never a crash.
namespace cab32 {

struct VerifiedCabinet
{
    uint64_t size = 0;                   // bytes in the cabinet file
    uint32_t files = 0;                  // CFFILE records
    std::vector<FolderSummary> folders;  // what each folder decompressed to
};

CabError VerifyCabinet(ByteSource& source, VerifiedCabinet& result);

} // namespace cab32
