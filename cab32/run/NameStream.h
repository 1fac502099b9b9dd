// The names an archiver command lists, in order: those on the command line and
// the lines of the response files it names, each checked as a name to store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cab32/format/CabError.h"
#include "cab32/run/FileOpener.h"
#include "cab32/run/CommandLine.h"

namespace cab32 {

// Walks the names given on a command line, opening response files as it
// reaches them. Names come back validated, with backslashes.
class NameStream
{
public:
    NameStream(const CommandLine& command, FileOpener& files, LeadByteTest lead);
    // False at the end of the names or on an error (then err is set).
    bool Next(std::string& name, CabError& err);
    // Where the last name came from: its response file and line there, or an
    // empty path and 0 for a name given on the command line.
    uint32_t Line() const { return m_response ? m_line : 0; }
    const std::string& ResponsePath() const { return m_response ? m_responsePath : m_noPath; }

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
    std::string m_noPath;
};

} // namespace cab32
