// The file system as the archiver sees it on Windows: ANSI paths, sources
// opened with read and write sharing, a temporary file beside the target and
// a write-through rename over it. A listed name that may hold short names is
// stored under its long name: in the ANSI code page where every character
// converts exactly, in UTF-8 otherwise.
#pragma once

#include <memory>

#include "cab32/run/FileOpener.h"

namespace cab32 {

class FolderListings;

class Win32Files : public FileOpener
{
public:
    Win32Files();
    ~Win32Files() override;
    uint32_t Stat(const std::string& path, SourceInfo& info) override;
    // From one listing of each folder (FindFirstFileExW, basic information,
    // large fetch), kept for the folders on the way down to the current one; a
    // name the listing does not hold alone (a short name, a link, a name two
    // entries share but for case) is looked up by path as Stat does.
    uint32_t StatListed(const std::string& path, SourceInfo& info) override;
    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override;
    uint32_t OpenData(const std::string& path, std::unique_ptr<ByteSource>& file) override;
    uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) override;
    uint32_t Replace(const std::string& tempPath, const std::string& target) override;
    uint32_t Remove(const std::string& path) override;
    uint32_t StoredName(const std::string& base, const std::string& name, std::string& stored, bool& utf8) override;
    std::string NameKey(const std::string& stored, bool utf8, bool (*lead)(unsigned char)) override;

private:
    std::unique_ptr<FolderListings> m_listings; // used by StatListed only, on the run's thread
};

} // namespace cab32
