// What a running archiver shares with whoever watches it: how far it has got,
// the file it is adding, and a request to stop. The run writes, the watcher
// (a progress window on another thread) reads; either may set cancel.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace cab32 {

enum class RunPhase {
    Listing,   // names are checked and files looked up
    Writing,   // files are read, compressed and written
    Verifying, // the written cabinets are read back
    Finishing  // the cabinets are being renamed into place
};

class RunControl
{
public:
    std::atomic<bool> cancel{false}; // set to stop the run; it ends with CAB_E_CANCELLED
    std::atomic<RunPhase> phase{RunPhase::Listing};
    std::atomic<uint64_t> totalBytes{0};  // bytes to store, known once listing is over
    std::atomic<uint64_t> doneBytes{0};   // bytes read so far
    std::atomic<uint64_t> verifyTotal{0}; // cabinet bytes to read back
    std::atomic<uint64_t> verifyDone{0};  // cabinet bytes read back so far

    void SetFile(const std::string& name)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_file = name;
    }
    std::string File() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_file;
    }
    bool Cancelled() const { return cancel.load(std::memory_order_relaxed); }

private:
    mutable std::mutex m_mutex;
    std::string m_file; // the file being added
};

} // namespace cab32
