#include "cab32/run/WorkerThreads.h"

#include <algorithm>

namespace cab32 {

void WorkerThreads::Start(unsigned count, const std::function<void()>& work)
{
    try {
        for (unsigned i = 0; i < std::max(count, 1u); ++i)
            m_threads.emplace_back(work);
    } catch (...) {
        Stop();
        throw;
    }
}

void WorkerThreads::Stop()
{
    if (m_threads.empty())
        return;
    m_wake();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

} // namespace cab32
