// The listing pass's placing of files into folders and cabinets, shared by
// the first plan (Plan.cpp) and the plan made again after the writing pass
// met files in motion (PlanAgain.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "cab32/run/Archiver.h"
#include "cab32/format/CabFormat.h"
#include "cab32/run/RunPlan.h"
#include "cab32/run/SteadyRead.h"

namespace cab32 {

// An internal code: a file listed but gone, noted in RunPlan::leftOut.
constexpr int kLeftOut = -1;
// An internal code: the writing pass met a file in motion and must be made again.
constexpr int kWriteAgain = -2;

// The attributes a CFFILE keeps of a file's own.
constexpr uint16_t kKeptAttribs = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// Sizes that decide where cabinets and folders end.
struct PlanLimits
{
    uint64_t header;     // a cabinet's header with the longest set links
    uint64_t cabinet;    // bytes one cabinet may take
    uint64_t folder;     // uncompressed bytes one folder may hold
    uint64_t cut;        // a folder holding bytes ends before a file that would take it past this
    uint64_t worstBlock; // the largest CFDATA record, header included
};

// The largest CFDATA record (header and payload) of a method: a stored MSZIP
// block, or the largest LZX frame the encoder writes.
uint64_t WorstBlockOf(Method method);

// The limits of the run the command and options describe.
CabError LimitsOf(const CommandLine& command, const ArchiveOptions& options, PlanLimits& limits);

// Places a listed file: it opens a new folder past the folder limit, and a
// new cabinet when, with every block stored, it would take the cabinet past
// its limit or past the format's counts.
CabError PlaceFile(PlannedFile& p, RunPlan& plan, uint64_t& folderBytes, const PlanLimits& limits,
                   const std::string& path);

// Notes where the names from here on come from, for the messages.
void NoteSource(RunPlan& plan, const std::string& responsePath);

// The targets must name files: a name ending in a backslash, or one of the
// set's first 'count' members that is an existing folder, is refused before
// anything is compressed.
CabError CheckTarget(const CommandLine& command, FileOpener& files, LeadByteTest lead, size_t count);

// A file the writing pass found in motion: its place in the plan and what became of it.
struct MovedFile
{
    size_t index;
    Motion motion;
};

// The plan made again after a writing pass met a file in motion: a file gone
// or never still is left out (named), one that could not be taken as planned
// is planned with its new size (once), and every other file is looked up
// again, since a tree in motion rarely moves one file alone.
CabError PlanAgain(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const MovedFile& moved,
                   RunPlan& plan);

} // namespace cab32
