#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/format/CabWriter.h"
#include "cab32/run/FolderCompressor.h"
#include "cab32/run/Planning.h"
#include "cab32/run/ReadAhead.h"
#include "cab32/run/Stages.h"

namespace cab32 {

namespace {

// The writing pass: the folders being compressed, the files read ahead and
// where the time goes.
struct WriteRun
{
    WriteRun(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const RunPlan& plan,
             ArchiveReport& report, unsigned threads, unsigned readers)
        : command(command), files(files), options(options), plan(plan), report(report), times(report.times),
          reader(command.baseFolder, files, plan, readers, options.control, options.pause),
          compressor(MakeFolderCompressor(options, threads)), budget(WorstBlockOf(options.method))
    {}

    const CommandLine& command;
    FileOpener& files;
    const ArchiveOptions& options;
    const RunPlan& plan;
    ArchiveReport& report;
    StageTimes& times;
    ReadAhead reader;
    std::unique_ptr<FolderCompressor> compressor;
    size_t next = 0;                     // the next file of the plan
    bool begun = false;                  // the writer has begun the oldest folder not yet done
    uint16_t opened = 0;                 // folders opened in the current cabinet
    std::vector<uint32_t> crcs;          // CRC-32 of the bytes of each folder done in it (ReadBackCrcs)
    GrowthBudget budget;                 // room for files stored at another size than listed
    MovedFile moved = {0, Motion::None}; // the file in motion that ended the pass, if any
};

// Writes what the compressor has ready, oldest folder first, beginning each
// folder in the cabinet as it comes; waits first as 'wait' says.
CabError Collect(WriteRun& run, CabWriter& writer, FolderCompressor::Wait wait)
{
    using Took = FolderCompressor::Took;
    FolderCompressor::Output out;
    for (;;) {
        const double start = StageClock();
        const Took took = run.compressor->Take(out, wait);
        const double got = StageClock();
        run.times.compressWait += got - start;
        if (took == Took::Nothing)
            return CabError();
        if (took == Took::Failed)
            return MakeError(run.compressor->NoMemory() ? CAB_E_NO_MEMORY : CAB_E_COMPRESS);
        if (!run.begun) {
            if (CabError e = writer.BeginFolder(out.typeCompress))
                return e;
            run.begun = true;
        }
        if (took == Took::FolderDone) {
            run.crcs.push_back(out.crc);
            run.begun = false;
        } else if (CabError e = writer.AddBlock(out.data, out.cbData, out.cbUncomp, out.csum))
            return e;
        run.times.write += StageClock() - got;
        wait = FolderCompressor::Wait::No;
    }
}

// Closes the open folder and writes every folder still out: a cabinet ends
// with all of its data in it.
CabError FinishFolders(WriteRun& run, CabWriter& writer)
{
    run.compressor->Close();
    while (run.compressor->OpenFolders() > 0) {
        if (CabError e = Collect(run, writer, FolderCompressor::Wait::ForFolder))
            return e;
    }
    return CabError();
}

// Room for the file's next bytes in the open folder, writing what is ready
// (and waiting for it) until there is room.
CabError NextRoom(WriteRun& run, CabWriter& writer, uint8_t*& at, size_t& room)
{
    if (CabError e = Collect(run, writer, FolderCompressor::Wait::No))
        return e;
    while ((at = run.compressor->Fill(room)) == nullptr) {
        if (CabError e = Collect(run, writer, FolderCompressor::Wait::ForFolderOrRoom))
            return e;
    }
    return CabError();
}

// Copies one file's bytes into blocks: the part read ahead, then the rest
// straight from the file. One that ends early changed while it was read.
CabError StoreData(WriteRun& run, CabWriter& writer, ReadAhead::Entry& entry, uint64_t size, const std::string& path)
{
    uint64_t left = size;
    size_t headUsed = 0;
    while (left > 0) {
        if (Cancelled(run.options))
            return MakeError(CAB_E_CANCELLED);
        uint8_t* at = nullptr;
        size_t room = 0;
        if (CabError e = NextRoom(run, writer, at, room))
            return e;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, room));
        size_t got = 0;
        if (headUsed < entry.head.size()) {
            got = std::min(want, entry.head.size() - headUsed);
            std::memcpy(at, entry.head.data() + headUsed, got);
            headUsed += got;
        } else if (!entry.rest)
            return MakeError(CAB_E_SOURCE_CHANGED, path);
        else if (uint32_t sys = entry.rest->Read(at, want, got))
            return MakeError(CAB_E_SOURCE_READ, path, sys);
        else if (got == 0)
            return MakeError(CAB_E_SOURCE_CHANGED, path);
        left -= got;
        if (run.options.control)
            run.options.control->doneBytes += got;
        run.compressor->Filled(got);
    }
    return CabError();
}

// The bytes the folder that file i opens was planned to hold.
uint64_t PlannedFolderBytes(const WriteRun& run, size_t i)
{
    uint64_t bytes = run.plan.files[i].size;
    for (size_t j = i + 1; j < run.plan.files.size() && !(run.plan.files[j].flags & kOpensFolder); ++j)
        bytes += run.plan.files[j].size;
    return bytes;
}

// Opens the folder that file i starts, the folders before it still being
// compressed and written.
void OpenFolder(WriteRun& run, size_t i, uint16_t& folderIndex)
{
    const uint64_t planned = PlannedFolderBytes(run, i);
    run.budget.StartFolder(planned, run.options.folderLimit);
    run.compressor->Close();
    run.compressor->Open(planned);
    folderIndex = run.opened++;
}

// Notes file i as in motion and ends the writing pass, to be made again. A
// file planned again once that cannot be taken again is left out.
CabError WriteAgain(WriteRun& run, size_t i, Motion motion)
{
    if (motion == Motion::Replan && (run.plan.files[i].flags & kReplanned))
        motion = Motion::Changed;
    run.moved = {i, motion};
    return MakeError(kWriteAgain);
}

// The size, dates and attributes file i is stored with: as listed, or those
// of the newer version read when its cabinet has room for it.
CabError VersionOf(WriteRun& run, size_t i, const ReadAhead::Entry& entry, CabFile& rec)
{
    const PlannedFile& p = run.plan.files[i];
    if (entry.motion != Motion::None && entry.motion != Motion::Renewed)
        return WriteAgain(run, i, entry.motion);
    rec.cbFile = static_cast<uint32_t>(p.size);
    rec.date = p.dosDate;
    rec.time = p.dosTime;
    rec.attribs = p.attribs;
    if (entry.motion == Motion::Renewed) {
        // A folder coded for the bytes it was planned to hold (LZX: its last
        // frames and E8 translation depend on them) takes no file of another
        // size: the run is planned again.
        const bool resized = entry.seen.size != p.size;
        if ((resized && run.compressor->CodedForPlannedSize()) || !run.budget.Take(p.size, entry.seen.size))
            return WriteAgain(run, i, Motion::Replan);
        rec.cbFile = static_cast<uint32_t>(entry.seen.size);
        rec.date = entry.seen.dosDate;
        rec.time = entry.seen.dosTime;
        rec.attribs = static_cast<uint16_t>((entry.seen.attribs & kKeptAttribs) | (p.attribs & kAttrNameIsUtf8));
    }
    return CabError();
}

// Stores the plan's next file: a new folder first where the plan says so,
// then its bytes, then its CFFILE record. A file found in motion ends the pass.
CabError StoreFile(WriteRun& run, CabWriter& writer, uint16_t& folderIndex, uint64_t& folderBytes)
{
    const size_t i = run.next++;
    const double asked = StageClock();
    ReadAhead::Entry entry = run.reader.Next();
    run.times.readWait += StageClock() - asked;
    if (entry.error)
        return entry.error;
    if (run.plan.files[i].flags & kOpensFolder) {
        OpenFolder(run, i, folderIndex);
        folderBytes = 0;
    }
    CabFile rec;
    if (CabError e = VersionOf(run, i, entry, rec))
        return e;
    const std::string path = run.command.baseFolder + std::string(run.plan.Listed(i));
    if (run.options.control)
        run.options.control->SetFile(std::string(run.plan.Listed(i)));
    CabError stored = StoreData(run, writer, entry, rec.cbFile, path);
    if (!stored && entry.rest && !StillAsOpened(*entry.rest, entry.seen, path, stored) && !stored)
        return WriteAgain(run, i, Motion::Changed);
    if (stored.code == CAB_E_SOURCE_CHANGED)
        return WriteAgain(run, i, Motion::Changed);
    if (stored)
        return stored;
    rec.iFolder = folderIndex;
    rec.uoffFolderStart = static_cast<uint32_t>(folderBytes);
    folderBytes += rec.cbFile;
    run.report.bytesIn += rec.cbFile;
    return writer.AddFile(rec, std::string(run.plan.Stored(i)));
}

// The layout of cabinet c of the set and its target.
void LayOut(const WriteRun& run, uint32_t c, WrittenCabinet& w)
{
    const std::string& cabinet = run.command.cabinet;
    const LeadByteTest lead = run.options.lead;
    w.target = SetMemberPath(cabinet, c, lead);
    w.layout.folders = run.plan.cabinets[c].folders;
    w.layout.files = run.plan.cabinets[c].files;
    w.layout.tableBytes = run.plan.cabinets[c].tableBytes;
    w.layout.setID = run.options.setID;
    w.layout.iCabinet = static_cast<uint16_t>(c);
    w.layout.limit = run.options.cabinetLimit;
    if (c > 0)
        w.layout.prevName = NameOnly(SetMemberPath(cabinet, c - 1, lead), lead);
    if (c + 1 < run.plan.cabinets.size())
        w.layout.nextName = NameOnly(SetMemberPath(cabinet, c + 1, lead), lead);
}

// Writes cabinet c of the set into a temporary file beside its target.
CabError WriteCabinet(WriteRun& run, uint32_t c, WrittenCabinet& w, TempFileGuard& guard)
{
    LayOut(run, c, w);
    run.budget.StartCabinet(run.plan.cabinets[c].worstBytes, run.options.cabinetLimit);
    std::unique_ptr<ByteSink> sink;
    if (uint32_t sys = run.files.CreateTemp(w.target, sink, w.tempPath))
        return MakeError(CAB_E_TEMP_CREATE, w.target, sys);
    guard.Arm(w.tempPath);
    CabWriter writer(*sink, w.layout);
    uint16_t folderIndex = 0;
    uint64_t folderBytes = 0;
    run.opened = 0;
    run.crcs.clear();
    for (uint32_t f = 0; f < run.plan.cabinets[c].files; ++f) {
        if (CabError e = StoreFile(run, writer, folderIndex, folderBytes))
            return Named(e, w.target);
    }
    if (CabError e = FinishFolders(run, writer))
        return Named(e, w.target);
    const double finishing = StageClock();
    if (CabError e = writer.Finish())
        return Named(e, w.target);
    run.times.write += StageClock() - finishing;
    sink.reset();
    w.folders = writer.Folders();
    w.readBackCrcs = run.compressor->ReadBackCrcs();
    for (size_t i = 0; w.readBackCrcs && i < w.folders.size() && i < run.crcs.size(); ++i)
        w.folders[i].crc = run.crcs[i];
    w.tableCrc = writer.TableCrc();
    w.bytes = writer.CabinetBytes();
    run.report.cabinetBytes += w.bytes;
    return CabError();
}

// Writes every cabinet of the set: folders compressed on every core
// while the files are read ahead on threads of their own and this thread writes.
CabError WriteAll(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const RunPlan& plan,
                  ArchiveReport& report, std::vector<WrittenCabinet>& written, TempFileGuard& guard, MovedFile& moved)
{
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = options.threads != 0 ? options.threads : cores;
    const unsigned readers = options.readers != 0 ? options.readers : kDefaultReaders;
    WriteRun run(command, files, options, plan, report, threads, readers);
    for (uint32_t c = 0; c < plan.cabinets.size(); ++c) {
        WrittenCabinet w;
        if (CabError e = WriteCabinet(run, c, w, guard)) {
            moved = run.moved;
            return e;
        }
        written.push_back(std::move(w));
    }
    report.times.readBusy = run.reader.BusySeconds();
    report.times.compressBusy = run.compressor->BusySeconds();
    return CabError();
}

} // namespace

// Each pass leaves a file out or plans one anew (once a file), so the passes end.
CabError WriteSteady(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, RunPlan& plan,
                     ArchiveReport& report, std::vector<WrittenCabinet>& written, TempFileGuard& guard)
{
    for (;;) {
        if (RunControl* control = options.control) {
            uint64_t totalBytes = 0;
            for (const PlannedFile& p : plan.files)
                totalBytes += p.size;
            control->totalBytes = totalBytes;
            control->doneBytes = 0;
            control->phase = RunPhase::Writing;
        }
        report.passes++;
        report.bytesIn = report.cabinetBytes = 0;
        MovedFile moved = {0, Motion::None};
        CabError e = WriteAll(command, files, options, plan, report, written, guard, moved);
        if (e.code != kWriteAgain)
            return e;
        guard.RemoveAll();
        written.clear();
        if (CabError again = PlanAgain(command, files, options, moved, plan))
            return again;
    }
}

} // namespace cab32
