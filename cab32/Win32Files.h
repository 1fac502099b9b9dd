#pragma once

#include "cab32/CabIo.h"

// The file system as the archiver sees it on Windows: ANSI paths, sources
// opened with read and write sharing, a temporary file beside the target and
// a write-through rename over it. A listed name that may hold short names is
// stored under its long name: in the ANSI code page where every character
// converts exactly, in UTF-8 otherwise.
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
    uint32_t StoredName(const std::string& base, const std::string& name, std::string& stored, bool& utf8) override;
    std::string NameKey(const std::string& stored, bool utf8, bool (*lead)(unsigned char)) override;
};

// Lead bytes of the process's ANSI code page.
bool IsAnsiLeadByte(unsigned char c);

} // namespace cab32
