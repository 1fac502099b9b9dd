#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/format/CabWriter.h"
#include "cab32/run/LzxPipeline.h"
#include "cab32/run/Pipeline.h"
#include "cab32/run/Planning.h"
#include "cab32/run/ReadAhead.h"
#include "cab32/run/Stages.h"

namespace cab32 {

namespace {

// Bytes of LZX input and of frames behind the oldest folder held at most, per
// compressing thread: half a folder of input lets the next folder start while
// the one before still has half its bytes to encode.
constexpr size_t kLzxInputPerThread = kLzxFolderBytes / 2;
constexpr size_t kLzxOutputPerThread = 1024 * 1024;

// The writing pass: the blocks (MSZIP) or folders (LZX) being compressed, the
// files read ahead and where the time goes.
struct WriteRun
{
    WriteRun(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const RunPlan& plan,
             ArchiveReport& report, unsigned threads, unsigned readers)
        : command(command), files(files), options(options), plan(plan), report(report), times(report.times),
          reader(command.baseFolder, files, plan, readers, options.control, options.pause),
          budget(WorstBlockOf(options.method))
    {
        if (options.method == Method::Lzx)
            lzx.reset(
                new LzxPipeline(threads, options.lzx, kLzxInputPerThread * threads, kLzxOutputPerThread * threads));
        else
            pipe.reset(new BlockPipeline(threads, options.level));
    }

    const CommandLine& command;
    FileOpener& files;
    const ArchiveOptions& options;
    const RunPlan& plan;
    ArchiveReport& report;
    StageTimes& times;
    ReadAhead reader;
    std::unique_ptr<BlockPipeline> pipe;   // MSZIP blocks
    std::unique_ptr<LzxPipeline> lzx;      // LZX folders
    BlockPipeline::Block* block = nullptr; // the block being filled, if any
    bool chained = false;                  // the next block continues a folder
    size_t next = 0;                       // the next file of the plan
    bool lzxBegun = false;                 // the writer has begun the oldest LZX folder
    uint16_t lzxOpened = 0;                // LZX folders opened in the current cabinet
    std::vector<uint32_t> lzxCrcs;         // CRC-32 of the input of each LZX folder written to it
    GrowthBudget budget;                   // room for files stored at another size than listed
    MovedFile moved = {0, Motion::None};   // the file in motion that ended the pass, if any
};

// Writes the compressed blocks that are ready, oldest first; with wait, all of them.
CabError Collect(WriteRun& run, CabWriter& writer, bool wait)
{
    while (run.pipe->Pending()) {
        const double start = StageClock();
        BlockPipeline::Block* b = run.pipe->Oldest();
        const double compressed = StageClock();
        run.times.compressWait += compressed - start;
        if (b->failed)
            return MakeError(b->noMemory ? CAB_E_NO_MEMORY : CAB_E_COMPRESS);
        if (CabError e = writer.AddBlock(b->out.data(), b->outLen, b->inLen, b->csum))
            return e;
        run.pipe->Retire();
        run.times.write += StageClock() - compressed;
        if (!wait)
            break;
    }
    return CabError();
}

// Writes the LZX frames that are ready, oldest folder first, beginning each
// folder in the cabinet as it comes; waits first as 'wait' says.
CabError CollectLzx(WriteRun& run, CabWriter& writer, LzxPipeline::Wait wait)
{
    LzxPipeline::Frame f;
    for (;;) {
        const double start = StageClock();
        const LzxPipeline::Took took = run.lzx->Take(f, wait);
        const double got = StageClock();
        run.times.compressWait += got - start;
        if (took == LzxPipeline::Took::Nothing)
            return CabError();
        if (took == LzxPipeline::Took::Failed)
            return MakeError(run.lzx->NoMemory() ? CAB_E_NO_MEMORY : CAB_E_COMPRESS);
        if (!run.lzxBegun) {
            if (CabError e = writer.BeginFolder(LzxTypeCompress(f.windowBits)))
                return e;
            run.lzxBegun = true;
        }
        if (took == LzxPipeline::Took::FolderDone) {
            run.lzxCrcs.push_back(run.lzx->DoneCrc());
            run.lzxBegun = false;
        } else if (CabError e = writer.AddBlock(f.frame.data.data(), f.frame.data.size(), f.frame.uncompressed, f.csum))
            return e;
        run.times.write += StageClock() - got;
        wait = LzxPipeline::Wait::No;
    }
}

// Sends the partly filled block, if any, and writes every block still out:
// a folder ends with all of its data in the cabinet. LZX: every open folder
// is closed and written.
CabError FlushBlocks(WriteRun& run, CabWriter& writer)
{
    if (run.lzx) {
        run.lzx->Close();
        while (run.lzx->OpenFolders() > 0) {
            if (CabError e = CollectLzx(run, writer, LzxPipeline::Wait::ForFolder))
                return e;
        }
        return CabError();
    }
    if (run.block != nullptr && run.block->inLen > 0) {
        run.pipe->Submit();
        run.block = nullptr;
    }
    return Collect(run, writer, true);
}

// A block to fill, writing finished ones until a slot is free.
CabError NextBlock(WriteRun& run, CabWriter& writer)
{
    while (run.block == nullptr) {
        run.block = run.pipe->Fill();
        if (run.block != nullptr)
            run.block->chained = run.chained;
        else if (CabError e = Collect(run, writer, false))
            return e;
    }
    return CabError();
}

// Room for the file's next bytes: the MSZIP block being filled, or the open
// LZX folder's chunk (writing frames until there is room).
CabError NextRoom(WriteRun& run, CabWriter& writer, uint8_t*& at, size_t& room)
{
    if (!run.lzx) {
        if (CabError e = NextBlock(run, writer))
            return e;
        at = run.block->in.data() + run.block->inLen;
        room = kBlockSize - run.block->inLen;
        return CabError();
    }
    if (CabError e = CollectLzx(run, writer, LzxPipeline::Wait::No))
        return e;
    while ((at = run.lzx->Fill(room)) == nullptr) {
        if (CabError e = CollectLzx(run, writer, LzxPipeline::Wait::ForFolderOrRoom))
            return e;
    }
    return CabError();
}

// Counts bytes copied into the room NextRoom gave; a full MSZIP block goes to the workers.
void UseRoom(WriteRun& run, size_t got)
{
    if (run.lzx) {
        run.lzx->Filled(got);
        return;
    }
    run.block->inLen += got;
    if (run.block->inLen == kBlockSize) {
        run.pipe->Submit();
        run.block = nullptr;
        run.chained = true;
    }
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
        UseRoom(run, got);
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

// Opens the folder that file i starts: MSZIP once everything before it is
// written; LZX at once, the folders before it still being compressed.
CabError OpenFolder(WriteRun& run, CabWriter& writer, size_t i, uint16_t& folderIndex)
{
    const uint64_t planned = PlannedFolderBytes(run, i);
    run.budget.StartFolder(planned, run.options.folderLimit);
    if (run.lzx) {
        run.lzx->Close();
        // The window given, or the smallest that holds the folder.
        run.lzx->Open(run.options.lzxWindowBits != 0 ? run.options.lzxWindowBits : LzxWindowBitsFor(planned), planned);
        folderIndex = run.lzxOpened++;
        return CabError();
    }
    if (CabError e = FlushBlocks(run, writer))
        return e;
    if (CabError e = writer.BeginFolder())
        return e;
    folderIndex = writer.FolderIndex();
    run.chained = false;
    return CabError();
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
        // An LZX folder is encoded for the bytes it was planned to hold (its
        // last frames and E8 translation depend on them): a file of another
        // size there has the run planned again.
        const bool resized = entry.seen.size != p.size;
        if ((resized && run.lzx) || !run.budget.Take(p.size, entry.seen.size))
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
        if (CabError e = OpenFolder(run, writer, i, folderIndex))
            return e;
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
    run.lzxOpened = 0;
    run.lzxCrcs.clear();
    for (uint32_t f = 0; f < run.plan.cabinets[c].files; ++f) {
        if (CabError e = StoreFile(run, writer, folderIndex, folderBytes))
            return Named(e, w.target);
    }
    if (CabError e = FlushBlocks(run, writer))
        return Named(e, w.target);
    const double finishing = StageClock();
    if (CabError e = writer.Finish())
        return Named(e, w.target);
    run.times.write += StageClock() - finishing;
    sink.reset();
    w.folders = writer.Folders();
    w.lzx = run.lzx != nullptr;
    for (size_t i = 0; w.lzx && i < w.folders.size() && i < run.lzxCrcs.size(); ++i)
        w.folders[i].crc = run.lzxCrcs[i];
    w.tableCrc = writer.TableCrc();
    w.bytes = writer.CabinetBytes();
    run.report.cabinetBytes += w.bytes;
    return CabError();
}

// Writes every cabinet of the set: blocks or folders compressed on every core
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
    report.times.compressBusy = run.lzx ? run.lzx->BusySeconds() : run.pipe->BusySeconds();
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
