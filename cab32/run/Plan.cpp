#include <algorithm>
#include <unordered_set>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/run/NameStream.h"
#include "cab32/run/Planning.h"
#include "cab32/run/Stages.h"

namespace cab32 {

namespace {

// Bytes that u uncompressed bytes of a folder can take at worst: every block
// (header included) as large as worstBlock, the last one too.
uint64_t WorstData(uint64_t u, uint64_t worstBlock)
{
    return u + (worstBlock - kBlockSize) * ((u + kBlockSize - 1) / kBlockSize);
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

// A set member index whose name ("_100000") is at least as long as that of any
// member a set can have (at most 65,535 cabinets).
constexpr uint32_t kIndexOfLongestName = 99999;

} // namespace

uint64_t WorstBlockOf(Method method)
{
    return method == Method::Lzx ? kDataHeaderSize + kLzxLargestFrame : kWorstBlockBytes;
}

void NoteSource(RunPlan& plan, const std::string& responsePath)
{
    if (plan.sources.empty() || plan.sources.back().path != responsePath)
        plan.sources.push_back({static_cast<uint32_t>(plan.files.size()), responsePath});
}

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

} // namespace

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

} // namespace cab32
