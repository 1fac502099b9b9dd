// Files as the cabinet writer and its verifier see them: a source read in
// order and a sink written by offset, which the Win32 layer implements with
// handles and the tests in memory. Every call returns 0 or the operating
// system's error code.
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

} // namespace cab32
