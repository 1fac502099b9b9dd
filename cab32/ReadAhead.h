#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cab32/Archiver.h"
#include "cab32/CabIo.h"

// Opens and reads the files to store on a thread of its own, ahead of the
// thread that fills the blocks, so that the system's per-file costs (open,
// first read, close) overlap with compressing and writing. Small files come
// whole in memory; a large one comes as an open source with its first part read.
namespace cab32 {

class ReadAhead
{
public:
    struct Entry
    {
        std::string name;                    // the stored name
        std::vector<uint8_t> head;           // the file's first bytes (all of a small file)
        std::unique_ptr<ByteSource> rest;    // the open file, when there is more to read
        CabError error;                      // opening or reading failed; later entries never come
    };

    // sizes: each file's listed size, in the order the names come.
    ReadAhead(const CommandLine& command, FileOpener& files, LeadByteTest lead, const std::vector<uint64_t>& sizes,
              const RunControl* control);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next file, waiting for it.
    Entry Next();
    // Seconds spent opening and reading, summed over the reading threads.
    double BusySeconds() const { return static_cast<double>(m_busyNs.load()) / 1e9; }

private:
    void Run();
    void Push(Entry entry, size_t bytes);
    // Drops whatever is queued: Next gives the failure from now on (the thread
    // could not go on). Allocates nothing, so it can follow a failed allocation.
    void Fail(int code);

    const CommandLine& m_command;
    FileOpener& m_files;
    LeadByteTest m_lead;
    const std::vector<uint64_t>& m_sizes;
    const RunControl* m_control;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_queue;
    size_t m_queuedBytes = 0;   // bytes held by queued entries
    bool m_stop = false;
    int m_failure = 0;          // the code Next gives once the queue is dropped
    std::atomic<uint64_t> m_busyNs{0};  // time spent opening and reading
    std::thread m_thread;
};

} // namespace cab32
