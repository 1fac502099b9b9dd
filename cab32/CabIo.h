// The archiver's view of the file system: small interfaces that the Win32
// layer implements with handles and the tests implement in memory. Every call
// returns 0 or the operating system's error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cab32 {

// System error codes the core reports itself (the Win32 values).
constexpr uint32_t kSysFileNotFound = 2;
constexpr uint32_t kSysPathNotFound = 3;
constexpr uint32_t kSysAccessDenied = 5;

struct SourceInfo;

// A readable file: sequential reads from a position that Seek moves.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to len bytes; got < len only at the end of the data.
    virtual uint32_t Read(void* buffer, size_t len, size_t& got) = 0;
    virtual uint32_t Seek(uint64_t offset) = 0;
    virtual uint32_t Size(uint64_t& size) = 0;
    // The open file as it is now: its size, last write and attributes, and
    // with dates its DOS date and time too (a cost some systems charge for).
    // The default knows the size only (written stays 0).
    virtual uint32_t Look(SourceInfo& info, bool dates);
};

// A writable file addressed by offset, so that tables can be filled in behind the data.
class ByteSink
{
public:
    virtual ~ByteSink() = default;
    virtual uint32_t WriteAt(uint64_t offset, const void* data, size_t len) = 0;
    // Forces everything written to the disk.
    virtual uint32_t Flush() = 0;
};

// What the cabinet records about a source file.
struct SourceInfo
{
    uint64_t size = 0;     // bytes
    uint64_t written = 0;  // last write as the system keeps it (100 ns steps), to tell two versions apart
    uint16_t dosDate = 0;  // last write, local time, DOS format
    uint16_t dosTime = 0;  // last write, local time, DOS format
    uint16_t attribs = 0;  // read-only, hidden, system and archive bits only
    bool isFolder = false; // the name is a folder
};

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
