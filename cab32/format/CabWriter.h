// Writes one cabinet (alone or one of a set) into a sink whose layout is fixed
// in advance: the caller says how many folders and files it holds, how many
// bytes its file table takes and which cabinets come before and after it, so
// each CFFILE can be written at its place as soon as its file has been stored
// and the data follows the table without a gap. Blocks arrive compressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab32/format/CabError.h"
#include "cab32/format/CabFormat.h"
#include "cab32/format/CabIo.h"

namespace cab32 {

// What a folder holds once written, for the check against the read-back.
struct FolderSummary
{
    uint64_t bytes = 0;  // uncompressed bytes
    uint32_t crc = 0;    // CRC-32 of the uncompressed bytes (known only from decoding)
    uint32_t blocks = 0; // CFDATA blocks
    uint32_t stored = 0; // CRC-32 over every CFDATA record as stored (header and data), in order
};

// A cabinet's place in its set and what it will hold.
struct CabinetLayout
{
    uint32_t folders = 0;              // CFFOLDER records
    uint32_t files = 0;                // CFFILE records
    uint64_t tableBytes = 0;           // bytes of all CFFILE records with their names
    uint16_t setID = 0;                // shared by every cabinet of the set
    uint16_t iCabinet = 0;             // index in the set, from 0
    std::string prevName;              // file name of the previous cabinet, empty for the first
    std::string nextName;              // file name of the next cabinet, empty for the last
    uint64_t limit = kMaxCabinetBytes; // bytes the cabinet may take (-v can lower it)
};

// Bytes of the header with its previous and next cabinet names, each followed by
// its disk name (the same text: extractors refuse an empty one).
uint64_t HeaderBytes(const std::string& prevName, const std::string& nextName);

class CabWriter
{
public:
    CabWriter(ByteSink& sink, const CabinetLayout& layout);

    // Closes the current folder, if any, and opens the next, compressed as
    // typeCompress says (MSZIP, or LZX with its window).
    CabError BeginFolder(uint16_t typeCompress = kTypeMszip);
    uint16_t FolderIndex() const { return static_cast<uint16_t>(m_folders.size() - 1); }
    // Appends one CFDATA block to the current folder.
    CabError AddBlock(const uint8_t* payload, size_t cbData, size_t cbUncomp, uint32_t csum);
    // Records a stored file; rec must describe bytes of this cabinet's folders.
    CabError AddFile(const CabFile& rec, const std::string& name);
    // Writes the folder records and the header, and flushes.
    CabError Finish();

    const std::vector<FolderSummary>& Folders() const { return m_folders; }
    uint64_t CabinetBytes() const { return m_dataEnd; }
    uint32_t TableCrc() const { return m_tableCrc; }

private:
    CabError EndFolder();
    CabError WriteData(const uint8_t* data, size_t len);
    CabError FlushData();
    CabError FlushTable();

    ByteSink& m_sink;
    CabinetLayout m_layout;
    uint64_t m_tableStart;        // offset of the first CFFILE
    uint64_t m_tableEnd;          // offset just past the last CFFILE
    uint64_t m_tableWritten = 0;  // table bytes already in the sink
    std::vector<uint8_t> m_table; // CFFILE records not yet in the sink
    uint32_t m_tableCrc = 0;      // CRC-32 of the table as written
    uint64_t m_dataEnd;           // offset just past the last CFDATA produced
    uint64_t m_dataWritten;       // offset just past the last CFDATA in the sink
    std::vector<uint8_t> m_data;  // CFDATA records not yet in the sink
    uint32_t m_files = 0;
    uint64_t m_folderStart = 0; // offset of the current folder's first CFDATA
    std::vector<FolderSummary> m_folders;
    std::vector<uint16_t> m_types; // each folder's typeCompress
    bool m_finished = false;
};

} // namespace cab32
