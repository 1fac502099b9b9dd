#include "cab32/run/Archiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <unordered_set>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "cab32/format/CabWriter.h"
#include "cab32/run/LzxPipeline.h"
#include "cab32/run/Pipeline.h"
#include "cab32/run/Planning.h"
#include "cab32/run/PutInPlace.h"
#include "cab32/run/ReadAhead.h"
#include "cab32/run/RunPlan.h"

namespace cab32 {

namespace {

// One written cabinet, waiting for its read-back and its rename.
struct WrittenCabinet
{
    std::string tempPath;
    std::string target;
    CabinetLayout layout;
    std::vector<FolderSummary> folders;
    uint32_t tableCrc = 0;
    uint64_t bytes = 0;
    bool lzx = false; // LZX folders: their crc holds the CRC-32 of the bytes fed to them
};

// Bytes that u uncompressed bytes of a folder can take at worst: every block
// (header included) as large as worstBlock, the last one too.
uint64_t WorstData(uint64_t u, uint64_t worstBlock)
{
    return u + (worstBlock - kBlockSize) * ((u + kBlockSize - 1) / kBlockSize);
}

// The largest CFDATA record (header and payload) of a method: a stored MSZIP
// block, or the largest LZX frame the encoder writes.
uint64_t WorstBlockOf(Method method)
{
    return method == Method::Lzx ? kDataHeaderSize + kLzxLargestFrame : kWorstBlockBytes;
}

bool Cancelled(const ArchiveOptions& options)
{
    return options.control != nullptr && options.control->Cancelled();
}

CabError Named(CabError e, const std::string& file)
{
    if (e.file.empty())
        e.file = file;
    return e;
}

// One listed name's place, kept to find two names that would be stored alike.
struct NameKeyEntry
{
    uint64_t hash;  // FNV-1a of the stored name's key
    uint32_t index; // the name's place in the listing, from 0
};

uint64_t HashKey(const std::string& key)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : key)
        h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// The name a listed file goes into the cabinet under, within the format's limit.
CabError StoredNameOf(const std::string& base, FileOpener& files, const std::string& name, std::string& stored,
                      bool& utf8)
{
    utf8 = false;
    if (uint32_t sys = files.StoredName(base, name, stored, utf8))
        return MakeError(CAB_E_SOURCE_OPEN, base + name, sys);
    if (stored.empty() || stored.size() > kMaxNameBytes)
        return MakeError(CAB_E_NAME_TOO_LONG, base + name);
    return CabError();
}

} // namespace

double StageClock()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void NoteSource(RunPlan& plan, const std::string& responsePath)
{
    if (plan.sources.empty() || plan.sources.back().path != responsePath)
        plan.sources.push_back({static_cast<uint32_t>(plan.files.size()), responsePath});
}

namespace {

// Looks one listed name up and keeps it: its size, date and attributes, its
// stored name in the shared buffer and the key that finds it listed twice. A
// name that is not there (deleted since it was listed) is noted as left out.
CabError ListFile(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const std::string& name,
                  RunPlan& plan, PlannedFile& p, std::vector<NameKeyEntry>& keys)
{
    const std::string path = command.baseFolder + name;
    SourceInfo info;
    if (uint32_t sys = files.StatListed(path, info)) {
        if (sys != kSysFileNotFound && sys != kSysPathNotFound)
            return MakeError(CAB_E_SOURCE_OPEN, path, sys);
        plan.leftOut.push_back({path, LeftOutReason::Vanished});
        return MakeError(kLeftOut);
    }
    if (info.isFolder)
        return MakeError(CAB_E_SOURCE_IS_FOLDER, path);
    std::string stored;
    bool utf8 = false;
    if (CabError e = StoredNameOf(command.baseFolder, files, name, stored, utf8))
        return e;
    keys.push_back({HashKey(files.NameKey(stored, utf8, options.lead)), static_cast<uint32_t>(plan.files.size())});
    if (plan.names.size() + name.size() + stored.size() > UINT32_MAX)
        return MakeError(CAB_E_NO_MEMORY);
    p = PlannedFile();
    p.size = info.size;
    p.written = info.written;
    p.nameAt = static_cast<uint32_t>(plan.names.size());
    p.listedLen = static_cast<uint16_t>(name.size());
    p.nameLen = static_cast<uint16_t>(stored.size());
    p.dosDate = info.dosDate;
    p.dosTime = info.dosTime;
    p.attribs = static_cast<uint16_t>(info.attribs & kKeptAttribs);
    if (utf8)
        p.attribs |= kAttrNameIsUtf8;
    plan.names += name;
    if (stored != name) {
        p.flags |= kStoredApart;
        plan.names += stored;
    }
    return CabError();
}

} // namespace

// Places a listed file: it opens a new folder past the folder limit, and a
// new cabinet when, with every block stored, it would take the cabinet past
// its limit or past the format's counts.
CabError PlaceFile(PlannedFile& p, RunPlan& plan, uint64_t& folderBytes, const PlanLimits& limits,
                   const std::string& path)
{
    const uint64_t record = kFileFixedSize + p.nameLen + 1;
    const uint64_t wb = limits.worstBlock;
    if (p.size > limits.folder || limits.header + kFolderSize + record + WorstData(p.size, wb) > limits.cabinet)
        return MakeError(CAB_E_FILE_TOO_LARGE, path);
    bool newCabinet = plan.cabinets.empty();
    bool newFolder =
        newCabinet || folderBytes + p.size > limits.folder || (folderBytes > 0 && folderBytes + p.size > limits.cut);
    if (!newCabinet) {
        const PlannedCabinet& c = plan.cabinets.back();
        const uint64_t grows = newFolder ? kFolderSize + WorstData(p.size, wb)
                                         : WorstData(folderBytes + p.size, wb) - WorstData(folderBytes, wb);
        newCabinet = c.worstBytes + record + grows > limits.cabinet || c.files >= kMaxFiles ||
                     (newFolder && c.folders >= kMaxFolders);
        newFolder = newFolder || newCabinet;
    }
    if (newCabinet) {
        if (plan.cabinets.size() >= kMaxFiles)
            return MakeError(CAB_E_TOO_MANY_CABINETS, path);
        plan.cabinets.push_back(PlannedCabinet());
        plan.cabinets.back().worstBytes = limits.header;
    }
    PlannedCabinet& c = plan.cabinets.back();
    const uint64_t before = newFolder ? 0 : folderBytes;
    c.worstBytes += (newFolder ? kFolderSize : 0) + WorstData(before + p.size, wb) - WorstData(before, wb);
    c.folders += newFolder ? 1 : 0;
    folderBytes = before + p.size;
    c.files++;
    c.tableBytes += record;
    c.worstBytes += record;
    p.flags |= (newFolder ? kOpensFolder : 0) | (newCabinet ? kOpensCabinet : 0);
    return CabError();
}

namespace {

// A set member index whose name ("_100000") is at least as long as that of any
// member a set can have (at most 65,535 cabinets).
constexpr uint32_t kIndexOfLongestName = 99999;

} // namespace

CabError LimitsOf(const CommandLine& command, const ArchiveOptions& options, PlanLimits& limits)
{
    // Room for the longest set links any cabinet of the set can carry.
    const std::string longest =
        NameOnly(SetMemberPath(command.cabinet, kIndexOfLongestName, options.lead), options.lead);
    if (longest.size() > kMaxNameBytes)
        return MakeError(CAB_E_NAME_TOO_LONG, command.cabinet);
    const bool lzx = options.method == Method::Lzx;
    limits = {HeaderBytes(longest, longest), options.cabinetLimit, options.folderLimit,
              lzx ? std::max<uint64_t>(options.lzxFolderBytes, 1) : UINT64_MAX, WorstBlockOf(options.method)};
    return CabError();
}

namespace {

// The listing pass: the response files are read once, every name checked and
// every file looked up before any cabinet is started, so that each cabinet's
// tables, folders and size are known. No file or folder ever crosses into the
// next cabinet.
CabError Plan(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, RunPlan& plan,
              std::vector<NameKeyEntry>& keys)
{
    PlanLimits limits;
    if (CabError e = LimitsOf(command, options, limits))
        return e;
    uint64_t folderBytes = 0;
    NameStream names(command, files, options.lead);
    std::string name;
    CabError err;
    while (names.Next(name, err)) {
        if (Cancelled(options))
            return MakeError(CAB_E_CANCELLED);
        NoteSource(plan, names.ResponsePath());
        PlannedFile p;
        CabError listed = ListFile(command, files, options, name, plan, p, keys);
        if (listed.code == kLeftOut)
            continue;
        if (listed)
            return listed;
        p.line = names.Line();
        if (CabError e = PlaceFile(p, plan, folderBytes, limits, command.baseFolder + name))
            return e;
        plan.files.push_back(p);
    }
    if (err)
        return err;
    if (plan.files.empty())
        return MakeError(CAB_E_NO_FILES, command.cabinet);
    return CabError();
}

// Refuses a listing in which two files would be stored under one name: every
// extractor would keep only one of them. Names whose keys hash alike are
// compared in full; the later one is named with its response file and line.
CabError CheckDuplicateNames(const RunPlan& plan, FileOpener& files, LeadByteTest lead, std::vector<NameKeyEntry>& keys)
{
    std::sort(keys.begin(), keys.end(), [](const NameKeyEntry& a, const NameKeyEntry& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.index < b.index;
    });
    std::vector<uint32_t> suspects;
    for (size_t i = 1; i < keys.size(); ++i) {
        if (keys[i].hash != keys[i - 1].hash)
            continue;
        if (suspects.empty() || suspects.back() != keys[i - 1].index)
            suspects.push_back(keys[i - 1].index);
        suspects.push_back(keys[i].index);
    }
    std::sort(suspects.begin(), suspects.end());
    std::unordered_set<std::string> seen;
    for (uint32_t index : suspects) {
        const bool utf8 = (plan.files[index].attribs & kAttrNameIsUtf8) != 0;
        if (seen.insert(files.NameKey(std::string(plan.Stored(index)), utf8, lead)).second)
            continue;
        CabError e = MakeError(CAB_E_DUPLICATE_NAME, std::string(plan.Listed(index)));
        e.line = plan.files[index].line;
        e.responseFile = e.line != 0 ? plan.SourceOf(index) : std::string();
        return e;
    }
    return CabError();
}

// Compares a cabinet read back with what was written.
bool SameAsWritten(const VerifiedCabinet& v, const WrittenCabinet& w)
{
    if (v.size != w.bytes || v.files != w.layout.files || v.tableCrc != w.tableCrc || v.setID != w.layout.setID ||
        v.iCabinet != w.layout.iCabinet || v.prevName != w.layout.prevName || v.nextName != w.layout.nextName ||
        v.prevDisk != w.layout.prevName || v.nextDisk != w.layout.nextName || v.folders.size() != w.folders.size())
        return false;
    for (size_t i = 0; i < w.folders.size(); ++i) {
        if (v.folders[i].bytes != w.folders[i].bytes || v.folders[i].blocks != w.folders[i].blocks ||
            v.folders[i].stored != w.folders[i].stored || (w.lzx && v.folders[i].crc != w.folders[i].crc))
            return false;
    }
    return true;
}

} // namespace

CabError CheckTarget(const CommandLine& command, FileOpener& files, LeadByteTest lead, size_t count)
{
    if (EndsWithBackslash(command.cabinet, lead) || command.cabinet.back() == '/')
        return MakeError(CAB_E_TARGET_IS_FOLDER, command.cabinet);
    for (uint32_t i = 0; i < count; ++i) {
        SourceInfo info;
        const std::string target = SetMemberPath(command.cabinet, i, lead);
        if (files.Stat(target, info) == 0 && info.isFolder)
            return MakeError(CAB_E_TARGET_IS_FOLDER, target);
    }
    return CabError();
}

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

// The writing pass, made again, after planning again, each time it meets a
// file in motion. Each time leaves a file out or plans one anew (once a
// file), so the passes end.
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

// Read-back: every cabinet must hold exactly what was written. MSZIP blocks
// were decompressed again as they were made; LZX folders are decoded here and
// the CRC-32 of their bytes compared with that of the bytes fed to them. A
// CRC-32 of every CFDATA record read back, the header fields, the file
// table's CRC-32 and the set links are compared with what was written.
CabError VerifyAll(FileOpener& files, const ArchiveOptions& options, const std::vector<WrittenCabinet>& written)
{
    for (const WrittenCabinet& w : written) {
        if (Cancelled(options))
            return MakeError(CAB_E_CANCELLED);
        std::unique_ptr<ByteSource> back;
        SourceInfo info;
        if (uint32_t sys = Retried(options.pause, [&] { return files.OpenRead(w.tempPath, back, info); }))
            return MakeError(CAB_E_VERIFY_READ, w.target, sys);
        VerifiedCabinet verified;
        ReadBackProgress progress;
        if (options.control != nullptr)
            progress = {&options.control->verifyDone, &options.control->cancel};
        if (CabError e = VerifyCabinet(*back, verified, Decoding::LzxOnly, progress))
            return Named(e, w.target);
        if (!SameAsWritten(verified, w)) {
            CabError e = MakeError(CAB_E_VERIFY_FAILED, w.target);
            e.detail = "content differs from what was written";
            return e;
        }
    }
    return Cancelled(options) ? MakeError(CAB_E_CANCELLED) : CabError();
}

// Lists and checks every name and plans the cabinets; the targets are checked
// before and after, so that no source is read for a target that is a folder.
CabError PlanRun(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, RunPlan& plan)
{
    if (CabError e = CheckTarget(command, files, options.lead, 1))
        return e;
    {
        std::vector<NameKeyEntry> keys;
        if (CabError e = Plan(command, files, options, plan, keys))
            return e;
        if (CabError e = CheckDuplicateNames(plan, files, options.lead, keys))
            return e;
    }
    return CheckTarget(command, files, options.lead, plan.cabinets.size());
}

} // namespace

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& given, ArchiveReport& report)
{
    report = ArchiveReport();
    CommandLine command;
    if (CabError e = ParseCommandLine(commandLine, command, given.lead))
        return e;
    report.cabinet = command.cabinet;
    ArchiveOptions options = given;
    options.cabinetLimit = std::min(options.cabinetLimit, kMaxCabinetBytes);
    if (command.cabinetLimit != 0)
        options.cabinetLimit = std::min(options.cabinetLimit, command.cabinetLimit);
    if (command.method != Method::Default) {
        options.method = command.method;
        options.lzxWindowBits = command.lzxWindowBits;
    }
    RunControl* control = options.control;
    StageTimes& times = report.times;
    const double start = StageClock();
    RunPlan plan;
    if (CabError e = PlanRun(command, files, options, plan))
        return e;
    times.plan = StageClock() - start;
    TempFileGuard guard(files, options.pause);
    std::vector<WrittenCabinet> written;
    if (CabError e = WriteSteady(command, files, options, plan, report, written, guard))
        return e;
    if (control) {
        control->verifyTotal = report.cabinetBytes;
        control->phase = RunPhase::Verifying;
    }
    const double verifyStart = StageClock();
    if (CabError e = VerifyAll(files, options, written))
        return e;
    const double finishStart = StageClock();
    times.verify = finishStart - verifyStart;
    if (control)
        control->phase = RunPhase::Finishing;
    std::vector<CabinetInPlace> cabinets;
    for (const WrittenCabinet& w : written)
        cabinets.push_back({w.tempPath, w.target});
    if (CabError e = ReplaceAll(files, options.pause, cabinets, guard))
        return e;
    times.finish = StageClock() - finishStart;
    times.total = StageClock() - start;
    report.files = static_cast<uint32_t>(plan.files.size());
    for (const PlannedCabinet& c : plan.cabinets)
        report.folders += c.folders;
    report.cabinets = static_cast<uint32_t>(plan.cabinets.size());
    report.leftOut = plan.leftOut;
    return report.leftOut.empty() ? CabError() : MakeError(CAB_E_FILES_LEFT_OUT, command.cabinet);
}

} // namespace cab32
