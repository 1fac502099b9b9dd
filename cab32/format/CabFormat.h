// The cabinet file's on-disk records, little-endian and unpadded, with their
// encoders and decoders. A cabinet written here is: CFHEADER, CFFOLDER for each
// folder, CFFILE for each file (right after the folders), then each folder's
// CFDATA blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab32 {

constexpr uint32_t kBlockSize = 32768;                      // uncompressed bytes in every block but a folder's last
constexpr uint32_t kMaxBlockData = kBlockSize + 12;         // largest MSZIP block payload a reader accepts
constexpr uint64_t kMaxFolderOffset = 0x7FFF8000;           // offsets in a folder, and a file's end, stay below this
constexpr uint64_t kMaxFolderBytes = 65534ull * kBlockSize; // below kMaxFolderOffset and fewer than 65,535 blocks
constexpr uint64_t kMaxCabinetBytes = 0x7FFFFFFF;           // cbCabinet limit honoured by every reader
constexpr uint64_t kMinCabinetLimit = 64 * 1024;            // smallest cabinet size -v accepts
constexpr uint64_t kWorstBlockBytes = 8 + kBlockSize + 7;   // a full CFDATA at its largest (stored)
constexpr uint32_t kMaxFiles = 65535;                       // cFiles is 16 bits
constexpr uint32_t kMaxFolders = 0xFFFD;                    // iFolder 0xFFFD..0xFFFF mark split files
constexpr size_t kMaxNameBytes = 255;                       // a CFFILE name without its NUL

constexpr uint16_t kTypeNone = 0;  // CFFOLDER.typeCompress: stored
constexpr uint16_t kTypeMszip = 1; // CFFOLDER.typeCompress: MSZIP

constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrNameIsUtf8 = 0x80; // the name is UTF-8, not the ANSI code page

constexpr uint16_t kFlagPrevCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;
constexpr uint16_t kFlagReservePresent = 0x0004;

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderSize = 8;
constexpr size_t kFileFixedSize = 16;
constexpr size_t kDataHeaderSize = 8;

// CFHEADER: the cabinet's first 36 bytes.
struct CabHeader
{
    uint8_t signature[4] = {'M', 'S', 'C', 'F'}; // "MSCF"
    uint32_t reserved1 = 0;                      // must be 0
    uint32_t cbCabinet = 0;                      // size of the whole cabinet file in bytes
    uint32_t reserved2 = 0;                      // must be 0
    uint32_t coffFiles = 0;                      // offset of the first CFFILE from the start of the cabinet
    uint32_t reserved3 = 0;                      // must be 0
    uint8_t versionMinor = 3;                    // format version 1.3: minor part
    uint8_t versionMajor = 1;                    // format version 1.3: major part
    uint16_t cFolders = 0;                       // number of CFFOLDER records
    uint16_t cFiles = 0;                         // number of CFFILE records
    uint16_t flags = 0;                          // kFlag* bits; 0 here: no set, no reserve
    uint16_t setID = 0;                          // shared by the cabinets of one set
    uint16_t iCabinet = 0;                       // this cabinet's index in its set, from 0
};

// CFFOLDER: where a folder's data starts and how it is compressed.
struct CabFolder
{
    uint32_t coffCabStart = 0; // offset of the folder's first CFDATA
    uint16_t cCFData = 0;      // number of CFDATA blocks in this cabinet
    uint16_t typeCompress = 0; // kTypeMszip or kTypeNone
};

// CFFILE without its name: one file's place in its folder's uncompressed stream.
struct CabFile
{
    uint32_t cbFile = 0;          // uncompressed size of the file in bytes
    uint32_t uoffFolderStart = 0; // offset of the file in its folder's uncompressed data
    uint16_t iFolder = 0;         // index of its folder
    uint16_t date = 0;            // ((year - 1980) << 9) | (month << 5) | day, local time
    uint16_t time = 0;            // (hour << 11) | (minute << 5) | (seconds / 2), local time
    uint16_t attribs = 0;         // kAttr* bits
};

// CFDATA without its payload.
struct CabData
{
    uint32_t csum = 0;     // checksum of cbData, cbUncomp and the payload
    uint16_t cbData = 0;   // payload bytes that follow
    uint16_t cbUncomp = 0; // uncompressed bytes the payload stands for
};

void EncodeHeader(const CabHeader& h, uint8_t out[kHeaderSize]);
void DecodeHeader(const uint8_t in[kHeaderSize], CabHeader& h);
void EncodeFolder(const CabFolder& f, uint8_t out[kFolderSize]);
void DecodeFolder(const uint8_t in[kFolderSize], CabFolder& f);
void EncodeFile(const CabFile& f, uint8_t out[kFileFixedSize]);
void DecodeFile(const uint8_t in[kFileFixedSize], CabFile& f);
void EncodeData(const CabData& d, uint8_t out[kDataHeaderSize]);
void DecodeData(const uint8_t in[kDataHeaderSize], CabData& d);

// The cabinet checksum over len bytes, continuing from seed.
uint32_t Checksum(const uint8_t* data, size_t len, uint32_t seed);
// The CFDATA checksum: the payload, then cbData and cbUncomp.
uint32_t DataChecksum(const uint8_t* payload, uint16_t cbData, uint16_t cbUncomp);

// Packs a local date and time into DOS format, clamped to 1980-01-01 00:00:00 .. 2107-12-31 23:59:58.
void MakeDosDateTime(int year, int month, int day, int hour, int minute, int second, uint16_t& date, uint16_t& time);

} // namespace cab32
