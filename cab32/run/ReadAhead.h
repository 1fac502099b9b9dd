// Opens and reads the files to store on threads of their own, ahead of the
// thread that fills the blocks, so that the system's per-file costs (open,
// first read, close) overlap with each other and with compressing and
// writing. Each reading thread takes the next file of the plan; the files
// come out in the plan's order. Small files come whole in memory, read until
// steady; a large one comes as an open source with its first part read
// (SteadyRead.h). A file held by another program for a moment is opened again
// on the schedule of BriefLocks.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cab32/run/FileOpener.h"
#include "cab32/run/RunPlan.h"
#include "cab32/run/RunControl.h"
#include "cab32/run/SteadyRead.h"
#include "cab32/run/WorkerThreads.h"

namespace cab32 {

class ReadAhead
{
public:
    using Entry = FileRead;

    // base: the folder the plan's names are relative to; pause waits between tries.
    ReadAhead(const std::string& base, FileOpener& files, const RunPlan& plan, unsigned readers,
              const RunControl* control, const std::function<void(unsigned)>& pause);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next file of the plan, waiting for it.
    Entry Next();
    // Seconds spent opening and reading, summed over the reading threads.
    double BusySeconds() const { return m_workers.BusySeconds(); }

private:
    void Run();
    void ReadFiles();
    // Takes the next file to read once there is room for it; false when there is none left.
    bool Take(size_t& index);
    // Opens file index and reads its head.
    void Read(size_t index, Entry& e);
    void Publish(size_t index, Entry e);
    // Makes Next give the failure from now on (a thread could not go on).
    // Allocates nothing, so it can follow a failed allocation.
    void Fail(int code);
    // Whether Next, waiting, should go on: its file is read, and so is file
    // m_wakeAt, or the readers cannot go on.
    bool NextMayGo() const;
    // The bytes read ahead of file index.
    size_t HeadBytes(size_t index) const;
    // Makes every reading thread return.
    void Wake();

    const std::string& m_base;
    FileOpener& m_files;
    const RunPlan& m_plan;
    const RunControl* m_control;
    const std::function<void(unsigned)>& m_pause;
    std::mutex m_mutex;
    std::condition_variable m_arrived;           // the file Next waits for was read, or a failure
    std::condition_variable m_room;              // room for more files, or stop
    bool m_nextWaits = false;                    // Next is waiting (each wake-up costs a system call)
    size_t m_wakeAt = 0;                         // while Next waits: the last file of the batch it waits for
    unsigned m_takersWait = 0;                   // reading threads waiting for room
    std::vector<Entry> m_ring;                   // entry i waits in slot i % size until Next takes it
    std::vector<uint8_t> m_ready;                // per slot: its entry has been read
    size_t m_taken = 0;                          // files handed to reading threads
    size_t m_given = 0;                          // files handed to Next
    size_t m_heldBytes = 0;                      // head bytes of the files taken and not yet given
    bool m_stop = false;                         // no more files are taken (end, failure or destruction)
    int m_failure = 0;                           // the code Next gives once a thread failed
    unsigned m_readers;                          // reading threads
    WorkerThreads m_workers{[this] { Wake(); }}; // last: stopped before anything they use goes
};

} // namespace cab32
