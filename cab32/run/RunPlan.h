// What the listing pass decided, kept compact for hundreds of thousands of
// files: one fixed record per file, and every name in one shared buffer. The
// response files are read once; the writing pass takes its names from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cab32 {

// Why a listed file is not in the cabinet although the run made one.
enum class LeftOutReason {
    Vanished, // it was gone (deleted or moved) when it was looked up or opened
    Changed   // it changed while it was read, and no one version of it could be read whole
};

struct LeftOutFile
{
    std::string path; // as listed, with the base folder in front
    LeftOutReason reason;
};

// One file as the listing pass found it (40 bytes).
struct PlannedFile
{
    uint64_t size;      // bytes to store
    uint64_t written;   // last write as the system keeps it, to tell whether it changed before it was read
    uint32_t nameAt;    // offset of its listed name in RunPlan::names (its stored name follows when apart)
    uint32_t line;      // its line in its response file; 0 for a name on the command line
    uint16_t listedLen; // bytes of its name as listed
    uint16_t nameLen;   // bytes of its stored name
    uint16_t dosDate;   // last write, as the listing found it
    uint16_t dosTime;   // last write, as the listing found it
    uint16_t attribs;   // the attributes a CFFILE keeps
    uint8_t flags;      // kOpensFolder, kOpensCabinet, kStoredApart, kReplanned
};

constexpr uint8_t kOpensFolder = 1;  // the file opens a new folder
constexpr uint8_t kOpensCabinet = 2; // the file opens a new cabinet of the set
constexpr uint8_t kStoredApart = 4;  // its stored name differs from the listed one and follows it
constexpr uint8_t kReplanned = 8;    // planned again once after it changed: the next change leaves it out

// What the listing pass decided for one cabinet.
struct PlannedCabinet
{
    uint32_t files = 0;      // CFFILE records
    uint32_t folders = 0;    // CFFOLDER records
    uint64_t tableBytes = 0; // bytes of the CFFILE records
    uint64_t worstBytes = 0; // the cabinet's size if no block compressed at all
};

// Where the names from one response file (or the command line) start.
struct ListSource
{
    uint32_t first;   // index of its first file
    std::string path; // the response file; empty for names on the command line
};

struct RunPlan
{
    std::vector<PlannedFile> files;
    std::vector<PlannedCabinet> cabinets;
    std::vector<ListSource> sources;
    std::string names;                // every listed name, each followed by its stored name when apart
    std::vector<LeftOutFile> leftOut; // listed files gone when looked up, or left out after they moved

    std::string_view Listed(size_t i) const
    {
        return std::string_view(names).substr(files[i].nameAt, files[i].listedLen);
    }
    std::string_view Stored(size_t i) const
    {
        const PlannedFile& f = files[i];
        return std::string_view(names).substr(f.nameAt + ((f.flags & kStoredApart) ? f.listedLen : 0), f.nameLen);
    }
    // The response file that listed file i; empty for a name on the command line.
    const std::string& SourceOf(size_t i) const
    {
        size_t s = sources.size();
        while (s > 1 && sources[s - 1].first > i)
            --s;
        return sources[s - 1].path;
    }
};

} // namespace cab32
