// The archiver's view of the file system: what the run opens, looks up,
// creates, renames and deletes. The Win32 layer implements it with the
// system's calls, the tests in memory. Every call returns 0 or the operating
// system's error code.
#pragma once

#include <memory>
#include <string>

#include "cab32/format/CabIo.h"

namespace cab32 {

// Called from several threads at once: the run's own thread (Stat, StatListed,
// StoredName, NameKey, CreateTemp, Replace, Remove, and OpenRead for response
// files and the read-back) and each of the reading threads (OpenData for the
// files to store). An implementation must allow any of its calls to overlap
// with any other; the sources and sinks it returns are each used by one thread
// only. StatListed alone is only ever called by the run's own thread.
class FileOpener
{
public:
    virtual ~FileOpener() = default;
    // Looks a file up without opening it.
    virtual uint32_t Stat(const std::string& path, SourceInfo& info) = 0;
    // Looks up a file to store, with Stat's answer. The run asks for the files
    // of a folder one after another (depth first, as a walk lists them), so an
    // implementation may answer from one listing of each folder, taken when
    // its first file is asked for. Only the run's own thread calls it.
    virtual uint32_t StatListed(const std::string& path, SourceInfo& info) { return Stat(path, info); }
    // Opens an existing file for reading; other programs may keep reading and writing it.
    virtual uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) = 0;
    // Opens an existing file for reading its data only, as cheaply as the
    // system allows (the caller already knows its size, date and attributes).
    virtual uint32_t OpenData(const std::string& path, std::unique_ptr<ByteSource>& file)
    {
        SourceInfo info;
        uint32_t err = OpenRead(path, file, info);
        return err == 0 && info.isFolder ? kSysAccessDenied : err;
    }
    // Creates a new, empty temporary file in the folder that holds target.
    virtual uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) = 0;
    // Renames temp over target, replacing an existing file.
    virtual uint32_t Replace(const std::string& tempPath, const std::string& target) = 0;
    // Deletes a file.
    virtual uint32_t Remove(const std::string& path) = 0;
    // The name a listed file is stored under (name is relative to base, which
    // ends in a backslash): its true name where the listing gave a short one.
    // utf8 tells that stored is UTF-8 rather than the ANSI code page. The
    // default keeps the listed name.
    virtual uint32_t StoredName(const std::string& base, const std::string& name, std::string& stored, bool& utf8);
    // A key that two stored names share when the file system takes them for
    // one file (letters compared without regard to case). The default folds
    // the ASCII letters and leaves double-byte characters as they are.
    virtual std::string NameKey(const std::string& stored, bool utf8, bool (*lead)(unsigned char));
};

} // namespace cab32
