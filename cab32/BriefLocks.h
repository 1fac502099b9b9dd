// A moment's lock by another program. Virus scanners, the search indexer and
// cloud sync clients open a file just written or saved for a moment; renaming
// over it, deleting it or opening it then fails with a sharing violation, a
// lock violation or access denied. Such a step is tried again after pauses of
// 50, 100, 200, 400, 550 and 700 ms (7 tries, 2 s in all); any other error,
// or the same one after the last pause, is the step's answer. Used by the
// archiver and by the program (project.dat), so both keep one schedule.
#pragma once

#include <cstdint>

namespace cab32 {

// The system's error codes (the Win32 values) that a moment's lock gives.
constexpr uint32_t kLockSharingViolation = 32;
constexpr uint32_t kLockLockViolation = 33;
constexpr uint32_t kLockAccessDenied = 5;

// The pauses before each new try, in milliseconds.
constexpr unsigned kBriefLockPauses[] = {50, 100, 200, 400, 550, 700};

inline bool IsBriefLock(uint32_t sys)
{
    return sys == kLockSharingViolation || sys == kLockLockViolation || sys == kLockAccessDenied;
}

// Runs step (which returns 0 or a system error code) until it succeeds, fails
// otherwise than by a brief lock, or the pauses are spent; pause(ms) waits.
template <class Step, class Pause> uint32_t RetryBriefLocks(Step&& step, Pause&& pause)
{
    uint32_t sys = step();
    for (unsigned ms : kBriefLockPauses) {
        if (!IsBriefLock(sys))
            break;
        pause(ms);
        sys = step();
    }
    return sys;
}

} // namespace cab32
