#include "cab32/run/PutInPlace.h"

#include <chrono>
#include <thread>

#include "cab32/format/CabFormat.h"
#include "cab32/run/Stages.h"

namespace cab32 {

void PauseFor(const std::function<void(unsigned)>& pause, unsigned ms)
{
    if (pause)
        pause(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TempFileGuard::RemoveAll()
{
    for (const std::string& path : m_paths)
        Retried(m_pause, [&] { return m_files.Remove(path); });
    m_paths.clear();
}

namespace {

bool IsAbsent(uint32_t sys)
{
    return sys == kSysFileNotFound || sys == kSysPathNotFound;
}

// Which targets exist. A target that is a folder or read-only is refused at
// once (no pause makes it writable), and so is one that cannot be looked up
// for another reason than being absent: replacing it blind would leave
// nothing to put back. Nothing has been changed when this fails.
CabError CheckTargets(FileOpener& files, const std::vector<CabinetInPlace>& cabinets, std::vector<bool>& exists)
{
    for (const CabinetInPlace& c : cabinets) {
        SourceInfo info;
        const uint32_t sys = files.Stat(c.target, info);
        if (sys != 0 && !IsAbsent(sys))
            return MakeError(CAB_E_REPLACE, c.target, sys);
        if (sys == 0 && (info.isFolder || (info.attribs & kAttrReadOnly)))
            return MakeError(CAB_E_REPLACE, c.target, kSysAccessDenied);
        exists.push_back(sys == 0);
    }
    return CabError();
}

// Moves each existing target into a temporary file beside it; aside[i] stays
// empty where there was none. On failure, the members moved so far are in
// their temporary files (PutBack brings them back); the one that failed is
// where it was.
CabError MoveAside(FileOpener& files, const std::function<void(unsigned)>& pause,
                   const std::vector<CabinetInPlace>& cabinets, const std::vector<bool>& exists,
                   std::vector<std::string>& aside)
{
    for (size_t i = 0; i < cabinets.size(); ++i) {
        if (!exists[i])
            continue;
        const std::string& target = cabinets[i].target;
        std::unique_ptr<ByteSink> reserve;
        if (uint32_t sys = files.CreateTemp(target, reserve, aside[i])) {
            aside[i].clear();
            return MakeError(CAB_E_TEMP_CREATE, target, sys);
        }
        reserve.reset();
        const uint32_t sys = Retried(pause, [&] { return files.Replace(target, aside[i]); });
        if (sys != 0) {
            Retried(pause, [&] { return files.Remove(aside[i]); });
            aside[i].clear();
            // A member that went meanwhile has nothing to keep.
            if (!IsAbsent(sys))
                return MakeError(CAB_E_REPLACE, target, sys);
        }
    }
    return CabError();
}

// Undoes a set's replacement after failure: the first 'placed' new members
// (only those this run renamed in) are removed and the old ones brought back.
// An old member that cannot be brought back stays in its temporary file,
// which the error then names.
CabError PutBack(FileOpener& files, const std::function<void(unsigned)>& pause,
                 const std::vector<CabinetInPlace>& cabinets, size_t placed, const std::vector<std::string>& aside,
                 CabError failure)
{
    for (size_t i = 0; i < placed; ++i)
        Retried(pause, [&] { return files.Remove(cabinets[i].target); });
    for (size_t i = 0; i < cabinets.size(); ++i) {
        if (aside[i].empty())
            continue;
        if (uint32_t sys = Retried(pause, [&] { return files.Replace(aside[i], cabinets[i].target); }))
            failure = MakeError(CAB_E_RESTORE, aside[i], sys);
    }
    return failure;
}

} // namespace

// A set's steps, and what each leaves behind when it fails: the checks leave
// everything as it was; moving aside and renaming in are undone by PutBack
// (old members back, this run's new ones removed; the new cabinets stay in
// their temporary files for the guard to remove); once every new member is
// in place, an old member that cannot be deleted stays in its temporary file,
// named by CAB_E_CLEANUP, and the new set stays.
CabError ReplaceAll(FileOpener& files, const std::function<void(unsigned)>& pause,
                    const std::vector<CabinetInPlace>& cabinets, TempFileGuard& guard)
{
    std::vector<bool> exists;
    if (CabError e = CheckTargets(files, cabinets, exists))
        return e;
    if (cabinets.size() == 1) {
        if (uint32_t sys = Retried(pause, [&] { return files.Replace(cabinets[0].tempPath, cabinets[0].target); }))
            return MakeError(CAB_E_REPLACE, cabinets[0].target, sys);
        guard.Release();
        return CabError();
    }
    std::vector<std::string> aside(cabinets.size());
    CabError failure = MoveAside(files, pause, cabinets, exists, aside);
    size_t placed = 0;
    for (; placed < cabinets.size() && !failure; ++placed) {
        const CabinetInPlace& c = cabinets[placed];
        if (uint32_t sys = Retried(pause, [&] { return files.Replace(c.tempPath, c.target); })) {
            failure = MakeError(CAB_E_REPLACE, c.target, sys);
            break;
        }
    }
    if (failure)
        return PutBack(files, pause, cabinets, placed, aside, failure);
    guard.Release();
    for (const std::string& path : aside) {
        if (path.empty())
            continue;
        if (uint32_t sys = Retried(pause, [&] { return files.Remove(path); }))
            failure = MakeError(CAB_E_CLEANUP, path, sys);
    }
    return failure;
}

CabError PutInPlace(FileOpener& files, const ArchiveOptions& options, const std::vector<WrittenCabinet>& written,
                    TempFileGuard& guard)
{
    if (options.control != nullptr)
        options.control->phase = RunPhase::Finishing;
    std::vector<CabinetInPlace> cabinets;
    for (const WrittenCabinet& w : written)
        cabinets.push_back({w.tempPath, w.target});
    return ReplaceAll(files, options.pause, cabinets, guard);
}

} // namespace cab32
