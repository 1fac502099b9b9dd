#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab32/CabError.h"
#include "cab32/CabFormat.h"
#include "cab32/CabIo.h"
#include "cab32/Mszip.h"

// Writes one cabinet into a sink whose layout is fixed in advance: the caller
// says how many folders and files there will be and how many bytes the file
// table takes, so each CFFILE can be written at its place as soon as its file
// has been stored, and the data follows the table without a gap.
namespace cab32 {

// What a folder holds once written, for the check against the read-back.
struct FolderSummary
{
    uint64_t bytes = 0;   // uncompressed bytes
    uint32_t crc = 0;     // CRC-32 of the uncompressed bytes
    uint32_t blocks = 0;  // CFDATA blocks
};

class CabWriter
{
public:
    CabWriter(ByteSink& sink, uint32_t folders, uint32_t files, uint64_t tableBytes, int level = 6);

    // Closes the current folder, if any, and opens the next.
    CabError BeginFolder();
    // Where the next file starts in the current folder's uncompressed data.
    uint64_t FolderOffset() const { return m_folderBytes; }
    uint16_t FolderIndex() const { return static_cast<uint16_t>(m_folders.size() - 1); }
    // Appends bytes of the current file to the current folder.
    CabError AddBytes(const uint8_t* data, size_t len);
    // Records a stored file; rec.iFolder, rec.uoffFolderStart and rec.cbFile must describe the bytes added.
    CabError AddFile(const CabFile& rec, const std::string& name);
    // Writes the last block, the folder records and the header.
    CabError Finish(uint16_t setID);

    const std::vector<FolderSummary>& Folders() const { return m_folders; }
    uint64_t CabinetBytes() const { return m_dataEnd; }

private:
    CabError EmitBlock();
    CabError EndFolder();
    CabError WriteData(const uint8_t* data, size_t len);
    CabError FlushData();
    CabError FlushTable();

    ByteSink& m_sink;
    MszipEncoder m_encoder;
    uint32_t m_expectedFolders;
    uint32_t m_expectedFiles;
    uint64_t m_tableStart;           // offset of the first CFFILE
    uint64_t m_tableEnd;             // offset just past the last CFFILE
    uint64_t m_tableWritten = 0;     // table bytes already in the sink
    std::vector<uint8_t> m_table;    // CFFILE records not yet in the sink
    uint64_t m_dataEnd;              // offset just past the last CFDATA produced
    uint64_t m_dataWritten;          // offset just past the last CFDATA in the sink
    std::vector<uint8_t> m_data;     // CFDATA records not yet in the sink
    std::vector<uint8_t> m_block;    // the block being filled
    std::vector<uint8_t> m_history;  // the folder's previous block
    std::vector<uint8_t> m_packed;   // the encoded block
    size_t m_blockLen = 0;
    size_t m_historyLen = 0;
    uint64_t m_folderBytes = 0;
    uint32_t m_files = 0;
    uint32_t m_folderStart = 0;      // offset of the current folder's first CFDATA
    std::vector<FolderSummary> m_folders;
    bool m_finished = false;
};

} // namespace cab32
