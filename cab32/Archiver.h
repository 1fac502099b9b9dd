#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cab32/CabError.h"
#include "cab32/CabFormat.h"
#include "cab32/CabIo.h"
#include "cab32/CommandLine.h"

// The archiver's whole run, free of any operating system: parse the command
// line, list and check every name, write the cabinet into a temporary file,
// read it back, and only then put it in place of the target.
namespace cab32 {

struct ArchiveOptions
{
    LeadByteTest lead = IsLeadByte932; // the ANSI code page's lead bytes
    int level = 6;                     // zlib compression level
    uint16_t setID = 0;                // CFHEADER.setID
    uint64_t folderLimit = kMaxFolderBytes; // uncompressed bytes a folder may hold
};

struct ArchiveReport
{
    std::string cabinet;        // the target, as given
    uint32_t files = 0;         // files stored
    uint32_t folders = 0;       // folders written
    uint64_t bytesIn = 0;       // uncompressed bytes stored
    uint64_t cabinetBytes = 0;  // size of the cabinet file
};

// Walks the names given on a command line, opening response files as it
// reaches them. Names come back validated, with backslashes.
class NameStream
{
public:
    NameStream(const CommandLine& command, FileOpener& files, LeadByteTest lead);
    // False at the end of the names or on an error (then err is set).
    bool Next(std::string& name, CabError& err);

private:
    bool NextFromResponse(std::string& name, CabError& err);
    bool ReadLine(std::string& line, CabError& err);

    const CommandLine& m_command;
    FileOpener& m_files;
    LeadByteTest m_lead;
    size_t m_input = 0;
    std::unique_ptr<ByteSource> m_response;
    std::string m_responsePath;
    uint32_t m_line = 0;
    std::string m_buffer;
    size_t m_bufferPos = 0;
    bool m_responseEnd = false;
};

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& options,
                    ArchiveReport& report);

} // namespace cab32
