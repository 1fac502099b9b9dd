#include "cab32/run/ReadAhead.h"

#include "cab32/run/PutInPlace.h"

#include <algorithm>

namespace cab32 {

namespace {

constexpr size_t kMaxHeldBytes = 8 * 1024 * 1024;
constexpr size_t kMaxHeldFiles = 1024;
// Next, once it has to wait, waits for this many files (or until the readers
// cannot go on): waking it for every file made each wake-up a request to
// Wine's server, which then served the readers' opens more slowly.
constexpr size_t kWakeBatch = 32;

} // namespace

ReadAhead::ReadAhead(const std::string& base, FileOpener& files, const RunPlan& plan, unsigned readers,
                     const RunControl* control, const std::function<void(unsigned)>& pause)
    : m_base(base), m_files(files), m_plan(plan), m_control(control), m_pause(pause), m_ring(kMaxHeldFiles),
      m_ready(kMaxHeldFiles, 0), m_readers(std::max(1u, readers))
{
    m_workers.Start(m_readers, [this] { Run(); });
}

ReadAhead::~ReadAhead()
{
    m_workers.Stop();
}

void ReadAhead::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
}

size_t ReadAhead::HeadBytes(size_t index) const
{
    const uint64_t size = m_plan.files[index].size;
    return static_cast<size_t>(std::min<uint64_t>(size, size <= kWholeFile ? kWholeFile : kHeadOfLarge));
}

ReadAhead::Entry ReadAhead::Next()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t slot = m_given % m_ring.size();
    if (m_ready[slot] == 0 && m_failure == 0) {
        m_wakeAt = std::min(m_given + kWakeBatch, m_plan.files.size()) - 1;
        m_nextWaits = true;
        m_arrived.wait(lock, [&] { return NextMayGo(); });
        m_nextWaits = false;
    }
    if (m_failure != 0) {
        Entry failed;
        failed.error.code = m_failure;
        return failed;
    }
    Entry e = std::move(m_ring[slot]);
    m_ready[slot] = 0;
    m_heldBytes -= e.held;
    ++m_given;
    const bool wake = m_takersWait != 0;
    lock.unlock();
    if (wake)
        m_room.notify_all();
    return e;
}

bool ReadAhead::NextMayGo() const
{
    if (m_failure != 0)
        return true;
    if (m_ready[m_given % m_ring.size()] == 0)
        return false;
    return m_ready[m_wakeAt % m_ring.size()] != 0 || m_stop || m_takersWait >= m_readers;
}

// The first file not yet given always gets its turn, so the reading never
// stalls; the others wait while the files held would pass the limits.
bool ReadAhead::Take(size_t& index)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto room = [&] {
        if (m_stop || m_taken >= m_plan.files.size())
            return true;
        return m_taken == m_given ||
               (m_taken - m_given < m_ring.size() && m_heldBytes + HeadBytes(m_taken) <= kMaxHeldBytes);
    };
    ++m_takersWait;
    // A reader about to wait may be what Next waits for.
    if (!room() && m_nextWaits && NextMayGo())
        m_arrived.notify_one();
    m_room.wait(lock, room);
    --m_takersWait;
    if (m_stop || m_taken >= m_plan.files.size())
        return false;
    index = m_taken++;
    m_heldBytes += HeadBytes(index);
    return true;
}

// Every file is opened, an empty one too (it may have bytes by now). One that
// is gone is noted as such; the run leaves it out.
void ReadAhead::Read(size_t index, Entry& e)
{
    const PlannedFile& listed = m_plan.files[index];
    if (m_control != nullptr && m_control->Cancelled()) {
        e.error = MakeError(CAB_E_CANCELLED);
        return;
    }
    const std::string path = m_base + std::string(m_plan.Listed(index));
    std::unique_ptr<ByteSource> source;
    const uint32_t sys = Retried(m_pause, [&] { return m_files.OpenData(path, source); });
    if (sys == kSysFileNotFound || sys == kSysPathNotFound) {
        e.motion = Motion::Vanished;
        return;
    }
    if (sys != 0) {
        e.error = MakeError(CAB_E_SOURCE_OPEN, path, sys);
        return;
    }
    if (listed.size <= kWholeFile)
        ReadWhole(*source, listed, path, m_pause, e);
    else
        ReadHead(std::move(source), listed, path, e);
}

// Wakes Next only when what it waits for is there.
void ReadAhead::Publish(size_t index, Entry e)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A failed file ends the taking: nothing after it is ever given.
        if (e.error)
            m_stop = true;
        // A file read whole in another version may hold more than was counted for it.
        e.held = e.head.size();
        m_heldBytes = m_heldBytes + e.held - HeadBytes(index);
        m_ring[index % m_ring.size()] = std::move(e);
        m_ready[index % m_ring.size()] = 1;
        wake = m_nextWaits && NextMayGo();
    }
    if (wake)
        m_arrived.notify_one();
}

void ReadAhead::ReadFiles()
{
    size_t index = 0;
    while (Take(index)) {
        Entry e;
        m_workers.Busy([&] { Read(index, e); });
        Publish(index, std::move(e));
    }
}

void ReadAhead::Fail(int code)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_failure = code;
    }
    m_arrived.notify_all();
    m_room.notify_all();
}

// One reading thread; nothing escapes it.
void ReadAhead::Run()
{
    try {
        ReadFiles();
    } catch (const std::bad_alloc&) {
        Fail(CAB_E_NO_MEMORY);
    } catch (...) {
        Fail(CAB_E_INTERNAL);
    }
}

} // namespace cab32
