#include "cab32/Archiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <unordered_set>
#include <vector>

#include <zlib.h>

#include "cab32/CabFormat.h"
#include "cab32/CabVerifier.h"
#include "cab32/CabWriter.h"
#include "cab32/Pipeline.h"
#include "cab32/ReadAhead.h"

namespace cab32 {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxLine = 4096;

// One file as the listing pass found it.
struct PlannedFile
{
    uint64_t size;      // bytes to store
    uint16_t nameLen;   // bytes of its stored name
    uint16_t dosDate;   // last write, as the listing found it
    uint16_t dosTime;   // last write, as the listing found it
    uint16_t attribs;   // the attributes a CFFILE keeps
    uint16_t listedLen; // bytes of its name as the response file lists it
    uint32_t nameCrc;   // CRC-32 of its listed name, to find a list changed between the passes
    bool newFolder;     // the file opens a new folder
    bool newCabinet;    // the file opens a new cabinet of the set
};

// What the listing pass decided for one cabinet.
struct PlannedCabinet
{
    uint32_t files = 0;       // CFFILE records
    uint32_t folders = 0;     // CFFOLDER records
    uint64_t tableBytes = 0;  // bytes of the CFFILE records
    uint64_t worstBytes = 0;  // the cabinet's size if no block compressed at all
};

// One written cabinet, waiting for its read-back and its rename.
struct WrittenCabinet
{
    std::string tempPath;
    std::string target;
    CabinetLayout layout;
    std::vector<FolderSummary> folders;
    uint32_t tableCrc = 0;
    uint64_t bytes = 0;
};

// Removes the temporary files unless the run got as far as renaming them.
class TempFileGuard
{
public:
    explicit TempFileGuard(FileOpener& files) : m_files(files) {}
    ~TempFileGuard()
    {
        for (const std::string& path : m_paths)
            m_files.Remove(path);
    }
    void Arm(const std::string& path) { m_paths.push_back(path); }
    void Release() { m_paths.clear(); }

private:
    FileOpener& m_files;
    std::vector<std::string> m_paths;
};

// Bytes that u uncompressed bytes of a folder can take at worst: every block stored.
uint64_t WorstData(uint64_t u)
{
    return u + (kWorstBlockBytes - kBlockSize) * ((u + kBlockSize - 1) / kBlockSize);
}

bool Cancelled(const ArchiveOptions& options)
{
    return options.control != nullptr && options.control->Cancelled();
}

uint32_t NameCrc(const std::string& name)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size())));
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
    uint64_t hash;   // FNV-1a of the stored name's key
    uint32_t index;  // the name's place in the listing, from 0
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

uint32_t FileOpener::StoredName(const std::string&, const std::string& name, std::string& stored, bool& utf8)
{
    stored = name;
    utf8 = false;
    return 0;
}

std::string FileOpener::NameKey(const std::string& stored, bool, bool (*lead)(unsigned char))
{
    std::string key(stored);
    for (size_t i = 0; i < key.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (lead(c) && i + 1 < key.size())
            ++i;
        else if (c >= 'a' && c <= 'z')
            key[i] = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

NameStream::NameStream(const CommandLine& command, FileOpener& files, LeadByteTest lead)
    : m_command(command), m_files(files), m_lead(lead)
{
}

bool NameStream::ReadLine(std::string& line, CabError& err)
{
    line.clear();
    for (;;)
    {
        if (m_bufferPos == m_buffer.size())
        {
            if (m_responseEnd)
                return !line.empty();
            m_buffer.resize(kReadChunk);
            size_t got = 0;
            if (uint32_t sys = m_response->Read(&m_buffer[0], m_buffer.size(), got))
            {
                err = MakeError(CAB_E_RESPONSE_READ, m_responsePath, sys);
                return false;
            }
            m_buffer.resize(got);
            m_bufferPos = 0;
            if (got == 0)
            {
                m_responseEnd = true;
                continue;
            }
        }
        size_t nl = m_buffer.find('\n', m_bufferPos);
        size_t end = nl == std::string::npos ? m_buffer.size() : nl;
        if (line.size() + (end - m_bufferPos) > kMaxLine)
        {
            err = MakeError(CAB_E_NAME_TOO_LONG, line.substr(0, 64) + "...");
            return false;
        }
        line.append(m_buffer, m_bufferPos, end - m_bufferPos);
        m_bufferPos = end;
        if (nl != std::string::npos)
        {
            ++m_bufferPos;
            return true;
        }
    }
}

bool NameStream::NextFromResponse(std::string& name, CabError& err)
{
    std::string line;
    for (;;)
    {
        if (!ReadLine(line, err))
        {
            if (err)
            {
                if (err.code != CAB_E_RESPONSE_READ)
                    err.line = m_line + 1;
                err.responseFile = m_responsePath;
            }
            return false;
        }
        ++m_line;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        bool blank = false;
        CabError e = ParseResponseLine(line, name, blank);
        if (!e && !blank)
            e = ValidateName(name, m_lead);
        if (e)
        {
            e.line = m_line;
            e.responseFile = m_responsePath;
            err = e;
            return false;
        }
        if (!blank)
            return true;
    }
}

bool NameStream::Next(std::string& name, CabError& err)
{
    err = CabError();
    for (;;)
    {
        if (m_response)
        {
            if (NextFromResponse(name, err))
                return true;
            if (err)
                return false;
            m_response.reset();
            continue;
        }
        if (m_input >= m_command.inputs.size())
            return false;
        const std::string& input = m_command.inputs[m_input++];
        if (!input.empty() && input[0] == '@')
        {
            std::string path = input.substr(1);
            if (!IsAbsolutePath(path))
                path = m_command.baseFolder + path;
            m_responsePath = path;
            SourceInfo info;
            uint32_t sys = input.size() > 1 ? m_files.OpenRead(path, m_response, info) : kSysFileNotFound;
            if (sys == 0 && info.isFolder)
                sys = kSysAccessDenied;
            if (sys != 0)
            {
                m_response.reset();
                err = MakeError(CAB_E_RESPONSE_OPEN, path, sys);
                return false;
            }
            m_line = 0;
            m_buffer.clear();
            m_bufferPos = 0;
            m_responseEnd = false;
            continue;
        }
        name = input;
        if (CabError e = ValidateName(name, m_lead))
        {
            err = e;
            return false;
        }
        return true;
    }
}

std::string SetMemberPath(const std::string& cabinet, uint32_t index, LeadByteTest lead)
{
    if (index == 0)
        return cabinet;
    const size_t folderLen = FolderOf(cabinet, lead).size();
    size_t dot = cabinet.rfind('.');
    if (dot == std::string::npos || dot < folderLen)
        dot = cabinet.size();
    return cabinet.substr(0, dot) + "_" + std::to_string(index + 1) + cabinet.substr(dot);
}

namespace {

std::string NameOnly(const std::string& path, LeadByteTest lead)
{
    return path.substr(FolderOf(path, lead).size());
}

// The listing pass: every name checked and every file looked up before any
// cabinet is started, so that each cabinet's tables, folders and size are
// known. A cabinet is closed before a file whose blocks, all stored, would take
// it past the limit, or that would be its 65,536th file; no file or folder
// ever crosses into the next cabinet.
CabError Plan(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, uint64_t cabinetLimit,
              std::vector<PlannedFile>& plan, std::vector<PlannedCabinet>& cabinets, std::vector<NameKeyEntry>& keys)
{
    // Room for the longest set links any cabinet of the set can carry.
    const std::string longest = NameOnly(SetMemberPath(command.cabinet, 99999, options.lead), options.lead);
    if (longest.size() > kMaxNameBytes)
        return MakeError(CAB_E_NAME_TOO_LONG, command.cabinet);
    const uint64_t headerBytes = HeaderBytes(longest, longest);
    uint64_t folderBytes = 0;
    NameStream names(command, files, options.lead);
    std::string name;
    CabError err;
    while (names.Next(name, err))
    {
        if (Cancelled(options))
            return MakeError(CAB_E_CANCELLED);
        const std::string path = command.baseFolder + name;
        SourceInfo info;
        if (uint32_t sys = files.Stat(path, info))
            return MakeError(CAB_E_SOURCE_OPEN, path, sys);
        if (info.isFolder)
            return MakeError(CAB_E_SOURCE_IS_FOLDER, path);
        std::string stored;
        bool utf8 = false;
        if (CabError e = StoredNameOf(command.baseFolder, files, name, stored, utf8))
            return e;
        keys.push_back({HashKey(files.NameKey(stored, utf8, options.lead)), static_cast<uint32_t>(plan.size())});
        const uint64_t record = kFileFixedSize + stored.size() + 1;
        if (info.size > options.folderLimit ||
            headerBytes + kFolderSize + record + WorstData(info.size) > cabinetLimit)
            return MakeError(CAB_E_FILE_TOO_LARGE, path);
        PlannedFile p;
        p.size = info.size;
        p.nameLen = static_cast<uint16_t>(stored.size());
        p.listedLen = static_cast<uint16_t>(name.size());
        p.nameCrc = NameCrc(name);
        p.dosDate = info.dosDate;
        p.dosTime = info.dosTime;
        p.attribs = static_cast<uint16_t>(info.attribs & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive));
        if (utf8)
            p.attribs |= kAttrNameIsUtf8;
        p.newCabinet = cabinets.empty();
        p.newFolder = p.newCabinet || folderBytes + info.size > options.folderLimit;
        if (!p.newCabinet)
        {
            const PlannedCabinet& c = cabinets.back();
            const uint64_t grows = p.newFolder ? kFolderSize + WorstData(info.size)
                                               : WorstData(folderBytes + info.size) - WorstData(folderBytes);
            p.newCabinet = c.worstBytes + record + grows > cabinetLimit || c.files >= kMaxFiles ||
                           (p.newFolder && c.folders >= kMaxFolders);
            p.newFolder = p.newFolder || p.newCabinet;
        }
        if (p.newCabinet)
        {
            if (cabinets.size() >= kMaxFiles)
                return MakeError(CAB_E_TOO_MANY_FILES, path);
            cabinets.push_back(PlannedCabinet());
            cabinets.back().worstBytes = headerBytes;
        }
        PlannedCabinet& c = cabinets.back();
        if (p.newFolder)
        {
            c.folders++;
            c.worstBytes += kFolderSize + WorstData(info.size);
            folderBytes = info.size;
        }
        else
        {
            c.worstBytes += WorstData(folderBytes + info.size) - WorstData(folderBytes);
            folderBytes += info.size;
        }
        c.files++;
        c.tableBytes += record;
        c.worstBytes += record;
        plan.push_back(p);
    }
    if (err)
        return err;
    if (plan.empty())
        return MakeError(CAB_E_NO_FILES, command.cabinet);
    return CabError();
}

// Refuses a listing in which two files would be stored under one name: every
// extractor would keep only one of them. Names whose keys hash alike are
// compared in full on a second reading of the listing; the later one is named.
CabError CheckDuplicateNames(const CommandLine& command, FileOpener& files, LeadByteTest lead,
                             std::vector<NameKeyEntry>& keys)
{
    std::sort(keys.begin(), keys.end(), [](const NameKeyEntry& a, const NameKeyEntry& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.index < b.index;
    });
    std::vector<uint32_t> suspects;
    for (size_t i = 1; i < keys.size(); ++i)
    {
        if (keys[i].hash != keys[i - 1].hash)
            continue;
        if (suspects.empty() || suspects.back() != keys[i - 1].index)
            suspects.push_back(keys[i - 1].index);
        suspects.push_back(keys[i].index);
    }
    if (suspects.empty())
        return CabError();
    std::sort(suspects.begin(), suspects.end());
    std::unordered_set<std::string> seen;
    NameStream names(command, files, lead);
    std::string name, stored;
    CabError err;
    for (uint32_t index = 0; names.Next(name, err); ++index)
    {
        if (!std::binary_search(suspects.begin(), suspects.end(), index))
            continue;
        bool utf8 = false;
        if (CabError e = StoredNameOf(command.baseFolder, files, name, stored, utf8))
            return e;
        if (!seen.insert(files.NameKey(stored, utf8, lead)).second)
        {
            CabError e = MakeError(CAB_E_DUPLICATE_NAME, name);
            e.line = names.Line();
            e.responseFile = names.ResponsePath();
            return e;
        }
    }
    return err;
}

// Writes the compressed blocks that are ready, oldest first; with wait, all of them.
CabError Collect(BlockPipeline& pipe, CabWriter& writer, bool wait, StageTimes& times)
{
    while (pipe.Pending())
    {
        const double start = StageClock();
        BlockPipeline::Block* b = pipe.Oldest();
        const double compressed = StageClock();
        times.compressWait += compressed - start;
        if (b->failed)
            return MakeError(b->noMemory ? CAB_E_NO_MEMORY : CAB_E_COMPRESS);
        if (CabError e = writer.AddBlock(b->out.data(), b->outLen, b->inLen, b->csum))
            return e;
        pipe.Retire();
        times.write += StageClock() - compressed;
        if (!wait)
            break;
    }
    return CabError();
}

// Sends the partly filled block, if any, and writes every block still out:
// a folder ends with all of its data in the cabinet.
CabError FlushBlocks(BlockPipeline& pipe, BlockPipeline::Block*& block, CabWriter& writer, StageTimes& times)
{
    if (block != nullptr && block->inLen > 0)
    {
        pipe.Submit();
        block = nullptr;
    }
    return Collect(pipe, writer, true, times);
}

// Compares a cabinet read back with what was written.
bool SameAsWritten(const VerifiedCabinet& v, const WrittenCabinet& w)
{
    if (v.size != w.bytes || v.files != w.layout.files || v.tableCrc != w.tableCrc || v.setID != w.layout.setID ||
        v.iCabinet != w.layout.iCabinet || v.prevName != w.layout.prevName || v.nextName != w.layout.nextName ||
        v.prevDisk != w.layout.prevName || v.nextDisk != w.layout.nextName || v.folders.size() != w.folders.size())
        return false;
    for (size_t i = 0; i < w.folders.size(); ++i)
    {
        if (v.folders[i].bytes != w.folders[i].bytes || v.folders[i].blocks != w.folders[i].blocks ||
            v.folders[i].stored != w.folders[i].stored)
            return false;
    }
    return true;
}

// The targets must name files: a name ending in a backslash, or one of the
// set's first 'count' members that is an existing folder, is refused before
// anything is compressed.
CabError CheckTarget(const CommandLine& command, FileOpener& files, LeadByteTest lead, size_t count)
{
    if (EndsWithBackslash(command.cabinet, lead) || command.cabinet.back() == '/')
        return MakeError(CAB_E_TARGET_IS_FOLDER, command.cabinet);
    for (uint32_t i = 0; i < count; ++i)
    {
        SourceInfo info;
        const std::string target = SetMemberPath(command.cabinet, i, lead);
        if (files.Stat(target, info) == 0 && info.isFolder)
            return MakeError(CAB_E_TARGET_IS_FOLDER, target);
    }
    return CabError();
}

// Moves each existing target of the set aside into a temporary file beside it;
// aside[i] is left empty where there was none.
CabError MoveAside(FileOpener& files, const std::vector<WrittenCabinet>& written, std::vector<std::string>& aside)
{
    for (size_t i = 0; i < written.size(); ++i)
    {
        SourceInfo info;
        if (files.Stat(written[i].target, info) != 0)
            continue;
        std::unique_ptr<ByteSink> reserve;
        if (uint32_t sys = files.CreateTemp(written[i].target, reserve, aside[i]))
        {
            aside[i].clear();
            return MakeError(CAB_E_TEMP_CREATE, written[i].target, sys);
        }
        reserve.reset();
        if (uint32_t sys = files.Replace(written[i].target, aside[i]))
        {
            files.Remove(aside[i]);
            aside[i].clear();
            return MakeError(CAB_E_REPLACE, written[i].target, sys);
        }
    }
    return CabError();
}

// Undoes a set's replacement after failure: the new members placed so far are
// removed and the old ones brought back. An old member that cannot be brought
// back stays in its temporary file, which the error then names.
CabError PutBack(FileOpener& files, const std::vector<WrittenCabinet>& written, size_t placed,
                 const std::vector<std::string>& aside, CabError failure)
{
    for (size_t i = 0; i < placed; ++i)
        files.Remove(written[i].target);
    for (size_t i = 0; i < written.size(); ++i)
    {
        if (aside[i].empty())
            continue;
        if (uint32_t sys = files.Replace(aside[i], written[i].target))
            failure = MakeError(CAB_E_RESTORE, aside[i], sys);
    }
    return failure;
}

// Puts a set's cabinets in place: existing targets are first moved aside, so
// that a failure part way can bring every one of them back.
CabError ReplaceAll(FileOpener& files, std::vector<WrittenCabinet>& written, TempFileGuard& guard)
{
    if (written.size() == 1)
    {
        if (uint32_t sys = files.Replace(written[0].tempPath, written[0].target))
            return MakeError(CAB_E_REPLACE, written[0].target, sys);
        guard.Release();
        return CabError();
    }
    for (const WrittenCabinet& w : written)
    {
        SourceInfo info;
        if (files.Stat(w.target, info) == 0 && (info.isFolder || (info.attribs & kAttrReadOnly)))
            return MakeError(CAB_E_REPLACE, w.target, kSysAccessDenied);
    }
    std::vector<std::string> aside(written.size());
    CabError failure = MoveAside(files, written, aside);
    size_t placed = 0;
    for (; placed < written.size() && !failure; ++placed)
    {
        if (uint32_t sys = files.Replace(written[placed].tempPath, written[placed].target))
            failure = MakeError(CAB_E_REPLACE, written[placed].target, sys);
    }
    if (failure)
        return PutBack(files, written, placed, aside, failure);
    guard.Release();
    // The new set is in place; an old member that cannot be deleted is reported.
    for (const std::string& path : aside)
    {
        if (path.empty())
            continue;
        if (uint32_t sys = files.Remove(path))
            failure = MakeError(CAB_E_CLEANUP, path, sys);
    }
    return failure;
}

} // namespace

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& options,
                    ArchiveReport& report)
{
    report = ArchiveReport();
    RunControl* control = options.control;
    CommandLine command;
    if (CabError e = ParseCommandLine(commandLine, command, options.lead))
        return e;
    report.cabinet = command.cabinet;
    uint64_t cabinetLimit = std::min(options.cabinetLimit, kMaxCabinetBytes);
    if (command.cabinetLimit != 0)
        cabinetLimit = std::min(cabinetLimit, command.cabinetLimit);

    if (CabError e = CheckTarget(command, files, options.lead, 1))
        return e;
    StageTimes& times = report.times;
    const double start = StageClock();
    std::vector<PlannedFile> plan;
    std::vector<PlannedCabinet> cabinets;
    {
        std::vector<NameKeyEntry> keys;
        if (CabError e = Plan(command, files, options, cabinetLimit, plan, cabinets, keys))
            return e;
        if (CabError e = CheckDuplicateNames(command, files, options.lead, keys))
            return e;
    }
    if (CabError e = CheckTarget(command, files, options.lead, cabinets.size()))
        return e;
    times.plan = StageClock() - start;
    uint64_t totalBytes = 0;
    for (const PlannedFile& p : plan)
        totalBytes += p.size;
    if (control)
    {
        control->totalBytes = totalBytes;
        control->phase = RunPhase::Writing;
    }

    // Writing: each cabinet into a temporary file beside its target, blocks
    // compressed on every core while this thread reads and writes.
    TempFileGuard guard(files);
    std::vector<WrittenCabinet> written;
    {
        const unsigned threads = options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
        BlockPipeline pipe(threads, options.level);
        BlockPipeline::Block* block = nullptr;
        bool chained = false;
        std::vector<uint64_t> sizes;
        sizes.reserve(plan.size());
        for (const PlannedFile& p : plan)
            sizes.push_back(p.size);
        ReadAhead reader(command, files, options.lead, sizes, control);
        size_t next = 0;
        for (uint32_t c = 0; c < cabinets.size(); ++c)
        {
            WrittenCabinet w;
            w.target = SetMemberPath(command.cabinet, c, options.lead);
            w.layout.folders = cabinets[c].folders;
            w.layout.files = cabinets[c].files;
            w.layout.tableBytes = cabinets[c].tableBytes;
            w.layout.setID = options.setID;
            w.layout.iCabinet = static_cast<uint16_t>(c);
            w.layout.limit = cabinetLimit;
            if (c > 0)
                w.layout.prevName = NameOnly(SetMemberPath(command.cabinet, c - 1, options.lead), options.lead);
            if (c + 1 < cabinets.size())
                w.layout.nextName = NameOnly(SetMemberPath(command.cabinet, c + 1, options.lead), options.lead);
            std::unique_ptr<ByteSink> sink;
            if (uint32_t sys = files.CreateTemp(w.target, sink, w.tempPath))
                return MakeError(CAB_E_TEMP_CREATE, w.target, sys);
            guard.Arm(w.tempPath);
            CabWriter writer(*sink, w.layout);
            uint16_t folderIndex = 0;
            uint64_t folderBytes = 0;
            for (uint32_t f = 0; f < cabinets[c].files; ++f, ++next)
            {
                const PlannedFile& p = plan[next];
                const double asked = StageClock();
                ReadAhead::Entry entry = reader.Next();
                times.readWait += StageClock() - asked;
                if (entry.error)
                    return entry.error;
                const std::string& name = entry.name;
                if (name.size() != p.listedLen || NameCrc(name) != p.nameCrc)
                    return MakeError(CAB_E_LIST_CHANGED, name);
                std::string stored;
                bool utf8 = false;
                if (CabError e = StoredNameOf(command.baseFolder, files, name, stored, utf8))
                    return e;
                if (stored.size() != p.nameLen || utf8 != ((p.attribs & kAttrNameIsUtf8) != 0))
                    return MakeError(CAB_E_LIST_CHANGED, name);
                if (p.newFolder)
                {
                    // A folder starts with everything before it written.
                    if (CabError e = FlushBlocks(pipe, block, writer, report.times))
                        return Named(e, w.target);
                    if (CabError e = writer.BeginFolder())
                        return Named(e, w.target);
                    folderIndex = writer.FolderIndex();
                    folderBytes = 0;
                    chained = false;
                }
                const std::string path = command.baseFolder + name;
                if (control)
                    control->SetFile(name);
                CabFile rec;
                rec.iFolder = folderIndex;
                rec.uoffFolderStart = static_cast<uint32_t>(folderBytes);
                rec.date = p.dosDate;
                rec.time = p.dosTime;
                rec.attribs = p.attribs;
                // The part read ahead, then the rest straight from the file. A file
                // that grew since the listing is stored as listed; one that shrank cannot be.
                uint64_t left = p.size;
                size_t headUsed = 0;
                while (left > 0)
                {
                    if (Cancelled(options))
                        return MakeError(CAB_E_CANCELLED);
                    while (block == nullptr)
                    {
                        block = pipe.Fill();
                        if (block == nullptr)
                        {
                            if (CabError e = Collect(pipe, writer, false, report.times))
                                return Named(e, w.target);
                        }
                        else
                        {
                            block->chained = chained;
                        }
                    }
                    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, kBlockSize - block->inLen));
                    size_t got = 0;
                    if (headUsed < entry.head.size())
                    {
                        got = std::min(want, entry.head.size() - headUsed);
                        std::memcpy(block->in.data() + block->inLen, entry.head.data() + headUsed, got);
                        headUsed += got;
                    }
                    else
                    {
                        if (!entry.rest)
                            return MakeError(CAB_E_SOURCE_CHANGED, path);
                        if (uint32_t sys = entry.rest->Read(block->in.data() + block->inLen, want, got))
                            return MakeError(CAB_E_SOURCE_READ, path, sys);
                        if (got == 0)
                            return MakeError(CAB_E_SOURCE_CHANGED, path);
                    }
                    block->inLen += got;
                    left -= got;
                    if (control)
                        control->doneBytes += got;
                    if (block->inLen == kBlockSize)
                    {
                        pipe.Submit();
                        block = nullptr;
                        chained = true;
                    }
                }
                rec.cbFile = static_cast<uint32_t>(p.size);
                folderBytes += p.size;
                if (CabError e = writer.AddFile(rec, stored))
                    return Named(e, w.target);
                report.bytesIn += p.size;
            }
            if (CabError e = FlushBlocks(pipe, block, writer, report.times))
                return Named(e, w.target);
            const double finishing = StageClock();
            if (CabError e = writer.Finish())
                return Named(e, w.target);
            times.write += StageClock() - finishing;
            sink.reset();
            w.folders = writer.Folders();
            w.tableCrc = writer.TableCrc();
            w.bytes = writer.CabinetBytes();
            report.cabinetBytes += w.bytes;
            written.push_back(std::move(w));
        }
        times.readBusy = reader.BusySeconds();
        times.compressBusy = pipe.BusySeconds();
    }
    const double verifyStart = StageClock();

    // Read-back: every cabinet must hold exactly what was written. The blocks
    // were decompressed again as they were made; here a CRC-32 of every CFDATA
    // record read back, the header fields, the file table's CRC-32 and the set
    // links are compared with what was written.
    if (control)
    {
        control->verifyTotal = report.cabinetBytes;
        control->phase = RunPhase::Verifying;
    }
    for (const WrittenCabinet& w : written)
    {
        if (Cancelled(options))
            return MakeError(CAB_E_CANCELLED);
        std::unique_ptr<ByteSource> back;
        SourceInfo info;
        if (uint32_t sys = files.OpenRead(w.tempPath, back, info))
            return MakeError(CAB_E_VERIFY_READ, w.target, sys);
        VerifiedCabinet verified;
        if (CabError e = VerifyCabinet(*back, verified, false, control))
            return Named(e, w.target);
        if (!SameAsWritten(verified, w))
        {
            CabError e = MakeError(CAB_E_VERIFY_FAILED, w.target);
            e.detail = "content differs from what was written";
            return e;
        }
    }

    if (Cancelled(options))
        return MakeError(CAB_E_CANCELLED);
    const double finishStart = StageClock();
    times.verify = finishStart - verifyStart;
    if (control)
        control->phase = RunPhase::Finishing;
    if (CabError e = ReplaceAll(files, written, guard))
        return e;
    times.finish = StageClock() - finishStart;
    times.total = StageClock() - start;
    report.files = static_cast<uint32_t>(plan.size());
    for (const PlannedCabinet& c : cabinets)
        report.folders += c.folders;
    report.cabinets = static_cast<uint32_t>(cabinets.size());
    return CabError();
}

} // namespace cab32
