#include "cab32/run/Planning.h"

namespace cab32 {

namespace {

bool IsAbsent(uint32_t sys)
{
    return sys == kSysFileNotFound || sys == kSysPathNotFound;
}

// Looks file p up again and takes its size, dates and attributes; false
// (noted as left out) when it is gone or is a folder now.
CabError LookAgain(FileOpener& files, const std::string& path, PlannedFile& p, RunPlan& again, bool& gone)
{
    SourceInfo info;
    const uint32_t sys = files.Stat(path, info);
    gone = IsAbsent(sys) || (sys == 0 && info.isFolder);
    if (gone) {
        again.leftOut.push_back({path, LeftOutReason::Vanished});
        return CabError();
    }
    if (sys != 0)
        return MakeError(CAB_E_SOURCE_OPEN, path, sys);
    p.size = info.size;
    p.written = info.written;
    p.dosDate = info.dosDate;
    p.dosTime = info.dosTime;
    p.attribs = static_cast<uint16_t>((info.attribs & kKeptAttribs) | (p.attribs & kAttrNameIsUtf8));
    return CabError();
}

} // namespace

// The names stay where they are in the shared buffer; each kept file gets a
// new place in the folders and cabinets. A file grown past what one cabinet
// can hold is left out as changed: it was not that large when listed.
CabError PlanAgain(const CommandLine& command, FileOpener& files, const ArchiveOptions& options, const MovedFile& moved,
                   RunPlan& plan)
{
    PlanLimits limits;
    if (CabError e = LimitsOf(command, options, limits))
        return e;
    RunPlan again;
    again.names.swap(plan.names);
    again.leftOut.swap(plan.leftOut);
    uint64_t folderBytes = 0;
    for (size_t i = 0; i < plan.files.size(); ++i) {
        PlannedFile p = plan.files[i];
        const std::string path = command.baseFolder + again.names.substr(p.nameAt, p.listedLen);
        const Motion motion = i == moved.index ? moved.motion : Motion::None;
        if (motion == Motion::Vanished || motion == Motion::Changed) {
            again.leftOut.push_back(
                {path, motion == Motion::Vanished ? LeftOutReason::Vanished : LeftOutReason::Changed});
            continue;
        }
        bool gone = false;
        if (CabError e = LookAgain(files, path, p, again, gone))
            return e;
        if (gone)
            continue;
        p.flags =
            static_cast<uint8_t>((p.flags & (kStoredApart | kReplanned)) | (motion == Motion::Replan ? kReplanned : 0));
        NoteSource(again, plan.SourceOf(i));
        CabError placed = PlaceFile(p, again, folderBytes, limits, path);
        if (placed.code == CAB_E_FILE_TOO_LARGE) {
            again.leftOut.push_back({path, LeftOutReason::Changed});
            continue;
        }
        if (placed)
            return placed;
        again.files.push_back(p);
    }
    plan = std::move(again);
    if (plan.files.empty())
        return MakeError(CAB_E_NO_FILES, command.cabinet);
    return CheckTarget(command, files, options.lead, plan.cabinets.size());
}

} // namespace cab32
