// Putting finished cabinets in place of their targets, all or nothing for a
// set, and removing temporary files; each step that another program's
// moment's lock can fail is tried again on the schedule of BriefLocks.h.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cab32/BriefLocks.h"
#include "cab32/format/CabError.h"
#include "cab32/run/FileOpener.h"

namespace cab32 {

// Waits ms milliseconds: with pause where one is given, else by sleeping.
void PauseFor(const std::function<void(unsigned)>& pause, unsigned ms);

// step (returning 0 or a system error) tried again after a brief lock.
template <class Step> uint32_t Retried(const std::function<void(unsigned)>& pause, Step&& step)
{
    return RetryBriefLocks(step, [&](unsigned ms) { PauseFor(pause, ms); });
}

// A finished cabinet in its temporary file and the file it is to become.
struct CabinetInPlace
{
    std::string tempPath;
    std::string target;
};

// Removes the temporary files unless the run got as far as renaming them.
class TempFileGuard
{
public:
    TempFileGuard(FileOpener& files, const std::function<void(unsigned)>& pause) : m_files(files), m_pause(pause) {}
    ~TempFileGuard() { RemoveAll(); }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Arm(const std::string& path) { m_paths.push_back(path); }
    void Release() { m_paths.clear(); }
    // Removes every file armed so far (a run that starts its writing again).
    void RemoveAll();

private:
    FileOpener& m_files;
    const std::function<void(unsigned)>& m_pause;
    std::vector<std::string> m_paths;
};

// Renames each cabinet over its target. A set is put in place all or
// nothing: the old members are moved aside first and brought back on failure.
CabError ReplaceAll(FileOpener& files, const std::function<void(unsigned)>& pause,
                    const std::vector<CabinetInPlace>& cabinets, TempFileGuard& guard);

} // namespace cab32
