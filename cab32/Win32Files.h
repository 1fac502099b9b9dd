#pragma once

#include "cab32/CabIo.h"

// The file system as the archiver sees it on Windows: ANSI paths, sources
// opened with read and write sharing, a temporary file beside the target and
// a write-through rename over it.
namespace cab32 {

class Win32Files : public FileOpener
{
public:
    uint32_t Stat(const std::string& path, SourceInfo& info) override;
    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override;
    uint32_t OpenData(const std::string& path, std::unique_ptr<ByteSource>& file) override;
    uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) override;
    uint32_t Replace(const std::string& tempPath, const std::string& target) override;
    uint32_t Remove(const std::string& path) override;
};

// Lead bytes of the process's ANSI code page.
bool IsAnsiLeadByte(unsigned char c);

} // namespace cab32
