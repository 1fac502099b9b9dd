#include "cab32/ReadAhead.h"

#include <algorithm>
#include <chrono>

namespace cab32 {

namespace {

constexpr size_t kWholeFile = 256 * 1024;       // files up to this size are read whole
constexpr size_t kHeadOfLarge = 64 * 1024;      // what is read ahead of a larger file
constexpr size_t kMaxQueuedBytes = 8 * 1024 * 1024;
constexpr size_t kMaxQueuedFiles = 4096;

} // namespace

ReadAhead::ReadAhead(const CommandLine& command, FileOpener& files, LeadByteTest lead,
                     const std::vector<uint64_t>& sizes, const RunControl* control)
    : m_command(command), m_files(files), m_lead(lead), m_sizes(sizes), m_control(control)
{
    m_thread = std::thread(&ReadAhead::Run, this);
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

ReadAhead::Entry ReadAhead::Next()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_queue.empty() || m_failure != 0; });
    if (m_queue.empty())
    {
        Entry failed;
        failed.error.code = m_failure;
        return failed;
    }
    Entry e = std::move(m_queue.front());
    m_queue.pop_front();
    m_queuedBytes -= std::min(m_queuedBytes, e.head.size());
    lock.unlock();
    m_changed.notify_all();
    return e;
}

void ReadAhead::Push(Entry entry, size_t bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] {
        return m_stop || m_queue.empty() || (m_queuedBytes + bytes <= kMaxQueuedBytes && m_queue.size() < kMaxQueuedFiles);
    });
    m_queuedBytes += bytes;
    m_queue.push_back(std::move(entry));
    lock.unlock();
    m_changed.notify_all();
}

void ReadAhead::Fail(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_failure = code;
}

void ReadAhead::Run()
{
    try
    {
        NameStream names(m_command, m_files, m_lead);
        for (uint64_t size : m_sizes)
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_stop)
                    return;
            }
            Entry e;
            if (!names.Next(e.name, e.error))
            {
                if (!e.error)
                    e.error = MakeError(CAB_E_RESPONSE_READ, m_command.inputs.empty() ? std::string() : m_command.inputs.back());
            }
            else if (m_control != nullptr && m_control->Cancelled())
            {
                e.error = MakeError(CAB_E_CANCELLED);
            }
            else if (size > 0)
            {
                const auto start = std::chrono::steady_clock::now();
                const std::string path = m_command.baseFolder + e.name;
                std::unique_ptr<ByteSource> source;
                if (uint32_t sys = m_files.OpenData(path, source))
                {
                    e.error = MakeError(CAB_E_SOURCE_OPEN, path, sys);
                }
                else
                {
                    // A file that grew since the listing is stored as listed; one that shrank cannot be.
                    e.head.resize(static_cast<size_t>(std::min<uint64_t>(size, size <= kWholeFile ? kWholeFile : kHeadOfLarge)));
                    size_t got = 0;
                    while (got < e.head.size() && !e.error)
                    {
                        size_t n = 0;
                        if (uint32_t sys = source->Read(e.head.data() + got, e.head.size() - got, n))
                            e.error = MakeError(CAB_E_SOURCE_READ, path, sys);
                        else if (n == 0)
                            e.error = MakeError(CAB_E_SOURCE_CHANGED, path);
                        got += n;
                    }
                    if (!e.error && e.head.size() < size)
                        e.rest = std::move(source);
                }
                m_busyNs += static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                    std::chrono::steady_clock::now() - start).count());
            }
            const bool failed = static_cast<bool>(e.error);
            const size_t bytes = e.head.size();
            Push(std::move(e), bytes);
            if (failed)
                return;
        }
    }
    catch (const std::bad_alloc&)
    {
        Fail(CAB_E_NO_MEMORY);
    }
    catch (...)
    {
        Fail(CAB_E_INTERNAL);
    }
    m_changed.notify_all();
}

} // namespace cab32
