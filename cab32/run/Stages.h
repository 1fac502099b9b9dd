// The stages of the archiver's run, in the order RunCommand calls them:
// planning (Plan.cpp), the writing pass (WritingPass.cpp), the read-back
// (ReadBack.cpp) and putting the cabinets in place (PutInPlace.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab32/format/CabWriter.h"
#include "cab32/run/Archiver.h"
#include "cab32/run/PutInPlace.h"
#include "cab32/run/RunPlan.h"

namespace cab32 {

// One written cabinet, waiting for its read-back and its rename.
struct WrittenCabinet
{
    std::string tempPath;               // where it was written
    std::string target;                 // what it is to become
    CabinetLayout layout;               // its place in the set and what it holds
    std::vector<FolderSummary> folders; // each folder as written
    uint32_t tableCrc = 0;              // CRC-32 of its file table as written
    uint64_t bytes = 0;                 // its size
    bool readBackCrcs = false;          // each folder's crc holds the CRC-32 of the bytes fed to it
};

// Whether the run has been asked to stop.
inline bool Cancelled(const ArchiveOptions& options)
{
    return options.control != nullptr && options.control->Cancelled();
}

// The error, naming file when it names none.
inline CabError Named(CabError e, const std::string& file)
{
    if (e.file.empty())
        e.file = file;
    return e;
}

// Planning: lists and checks every name and plans the cabinets; the targets
// are checked before and after, so that no source is read for a target that
// is a folder.
CabError PlanRun(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, RunPlan& plan);

// The writing pass: every cabinet of the set written into a temporary file
// beside its target (armed in guard), made again after planning again each
// time it meets a file in motion.
CabError WriteSteady(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, RunPlan& plan,
                     ArchiveReport& report, std::vector<WrittenCabinet>& written, TempFileGuard& guard);

// The read-back: every cabinet must hold exactly what was written.
CabError ReadBack(FileOpener& files, const ArchiveOptions& options, const std::vector<WrittenCabinet>& written);

// Putting in place: each cabinet renamed over its target, a set all or nothing (ReplaceAll).
CabError PutInPlace(FileOpener& files, const ArchiveOptions& options, const std::vector<WrittenCabinet>& written,
                    TempFileGuard& guard);

} // namespace cab32
