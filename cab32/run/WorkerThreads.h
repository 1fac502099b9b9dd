// Threads that work for one owner: the compressing workers of a folder
// compressor and the reading threads that open the files ahead. They are
// started together and stopped together, and the time they spend on their
// work is summed over them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace cab32 {

class WorkerThreads
{
public:
    // wake makes every thread's work return soon: the owner sets its stop
    // flag under its lock and wakes whoever waits.
    explicit WorkerThreads(std::function<void()> wake) : m_wake(std::move(wake)) {}
    // Stop must have been called (by the owner, before its members go).
    ~WorkerThreads() { Stop(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts count threads (at least one), each running work. When one
    // cannot be started, those started are stopped and the failure is thrown.
    void Start(unsigned count, const std::function<void()>& work);
    // Wakes the threads and waits for them to end; nothing when none runs.
    void Stop();
    unsigned Count() const { return static_cast<unsigned>(m_threads.size()); }

    // Runs step on a worker, counting its time as busy.
    template <class Step> void Busy(Step&& step)
    {
        const auto start = std::chrono::steady_clock::now();
        step();
        m_busyNs += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    }
    // Seconds the threads spent busy, summed over them.
    double BusySeconds() const { return static_cast<double>(m_busyNs.load()) / 1e9; }

private:
    std::function<void()> m_wake;
    std::vector<std::thread> m_threads;
    std::atomic<uint64_t> m_busyNs{0};
};

} // namespace cab32
