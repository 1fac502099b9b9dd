// The archiver's whole run, free of any operating system: parse the command
// line, list and check every name and plan the cabinets, compress on every
// core into temporary files, read them back, and only then put them in place
// of the targets. When one cabinet cannot hold everything, a set is written:
// the named cabinet first, then "<name>_2<ext>", "<name>_3<ext>"... beside it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cab32/codec/Lzx.h"
#include "cab32/format/CabError.h"
#include "cab32/format/CabFormat.h"
#include "cab32/run/CommandLine.h"
#include "cab32/run/FileOpener.h"
#include "cab32/run/RunControl.h"
#include "cab32/run/RunPlan.h"

namespace cab32 {

// Threads that open and read the files to store unless ArchiveOptions says
// otherwise. Two: each open waits on the system (under Wine, on its server), and
// a second reader keeps the compressing threads fed; 40,000 small files took
// 2.9-3.3 s instead of 4.2-5.9 s with LZX, 2.6-2.7 s instead of 2.8-3.6 s with
// MSZIP. A third gained nothing.
constexpr unsigned kDefaultReaders = 2;

// An LZX folder holding data ends before a file that would take it past this
// many bytes (a larger file has a folder of its own). Smaller folders cost
// size (each starts with no history): 1 MiB folders made /usr/include 31 %
// larger than 4 MiB ones; 4 MiB ones are 15 % larger than one folder.
constexpr uint64_t kLzxFolderBytes = 4 * 1024 * 1024;

struct ArchiveOptions
{
    LeadByteTest lead = IsLeadByte932;         // the ANSI code page's lead bytes
    int level = 6;                             // zlib compression level
    uint16_t setID = 0;                        // CFHEADER.setID
    uint64_t folderLimit = kMaxFolderBytes;    // uncompressed bytes a folder may hold
    Method method = Method::Lzx;               // used when the command line names none
    int lzxWindowBits = 0;                     // LZX window when the command line names none; 0 to fit each folder
    uint64_t lzxFolderBytes = kLzxFolderBytes; // where LZX folders are cut (at a file boundary)
    LzxOptions lzx;                            // the LZX encoder's settings
    uint64_t cabinetLimit = kMaxCabinetBytes;  // bytes one cabinet may take (-v can lower it)
    unsigned threads = 0;                      // compressing threads; 0 for one per core
    unsigned readers = 0;                      // threads opening and reading the files; 0 for kDefaultReaders
    RunControl* control = nullptr;             // progress and cancel, or none
    std::function<void(unsigned)> pause;       // waits that many milliseconds (none given: sleeps)
};

// Where a run's time went, in seconds: wall time of the run's own thread,
// except the busy times, which are summed over the threads that do the work.
struct StageTimes
{
    double plan = 0;         // names checked, files looked up, cabinets planned
    double readBusy = 0;     // opening and reading the files (reading threads)
    double readWait = 0;     // the run's thread waiting for a file to be read
    double compressBusy = 0; // compressing and checking blocks (workers)
    double compressWait = 0; // the run's thread waiting for a compressed block
    double write = 0;        // the run's thread writing blocks and tables
    double verify = 0;       // reading the cabinets back
    double finish = 0;       // putting the cabinets in place
    double total = 0;        // the whole run
};

// Seconds from a steady clock, for StageTimes.
double StageClock();

struct ArchiveReport
{
    std::string cabinet;              // the target, as given
    uint32_t files = 0;               // files stored
    uint32_t folders = 0;             // folders written
    uint64_t bytesIn = 0;             // uncompressed bytes stored
    uint64_t cabinetBytes = 0;        // size of all cabinet files together
    uint32_t cabinets = 0;            // cabinet files written (more than 1 for a set)
    StageTimes times;                 // where the time went
    uint32_t passes = 0;              // writing passes (more than 1 when a file left out meant writing again)
    std::vector<LeftOutFile> leftOut; // listed files not stored, in the order found
};

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& options,
                    ArchiveReport& report);

} // namespace cab32
