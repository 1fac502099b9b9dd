// Reads an MSZIP, LZX or stored cabinet back (alone or one of a set whose files and
// folders never cross into another cabinet) and checks it the way an extractor
// would use it: the header and its reserved fields, the set links, the
// placement of every record, every block's checksum and size, and, when asked
// to decode, that each folder decompresses to exactly the extent its files
// claim. Damaged input of any kind gives CAB_E_VERIFY_FAILED, never a crash.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cab32/format/CabError.h"
#include "cab32/format/CabIo.h"
#include "cab32/format/CabWriter.h"

namespace cab32 {

struct VerifiedCabinet
{
    uint64_t size = 0;                  // bytes in the cabinet file
    uint32_t files = 0;                 // CFFILE records
    std::vector<FolderSummary> folders; // each folder's blocks (and, decoded, its content)
    uint32_t tableCrc = 0;              // CRC-32 of the file table
    uint16_t setID = 0;                 // CFHEADER.setID
    uint16_t iCabinet = 0;              // CFHEADER.iCabinet
    std::string prevName;               // previous cabinet of the set, empty when none
    std::string nextName;               // next cabinet of the set, empty when none
    std::string prevDisk;               // disk name of the previous cabinet
    std::string nextDisk;               // disk name of the next cabinet
};

// Which folders the read-back decodes. LZX folders always: nothing decodes
// their frames as they are made. MSZIP and stored blocks left undecoded are
// checked against their checksums only; the caller then compares
// FolderSummary::stored (a CRC-32 of every CFDATA record's bytes) with the
// one computed as they were written.
enum class Decoding {
    LzxOnly, // LZX folders decoded, MSZIP blocks checked by checksum (the run: MSZIP was decoded as made)
    Every    // every folder decoded (FolderSummary::crc for each)
};

// Whoever follows a read-back: the bytes read so far are added to done, and
// cancel (set by another thread) stops it with CAB_E_CANCELLED. Either may be null.
struct ReadBackProgress
{
    std::atomic<uint64_t>* done = nullptr;
    const std::atomic<bool>* cancel = nullptr;
};

CabError VerifyCabinet(ByteSource& source, VerifiedCabinet& result, Decoding decoding = Decoding::Every,
                       ReadBackProgress progress = ReadBackProgress());

} // namespace cab32
