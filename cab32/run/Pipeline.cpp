#include "cab32/run/Pipeline.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <new>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Mszip.h"

namespace cab32 {

BlockPipeline::BlockPipeline(unsigned threads, int level) : m_level(level)
{
    if (threads == 0)
        threads = 1;
    // Enough slots for every worker to hold one block and the caller to fill
    // the next ones, plus the dictionary that the oldest block still needs.
    const size_t depth = 16 * threads + 4;
    m_slots.resize(depth);
    m_done.assign(depth, 0);
    for (Block& b : m_slots) {
        b.in.resize(kBlockSize);
        b.out.resize(kMaxBlockData);
    }
    try {
        for (unsigned i = 0; i < threads; ++i)
            m_threads.emplace_back(&BlockPipeline::Work, this);
    } catch (...) {
        Stop();
        throw;
    }
}

BlockPipeline::~BlockPipeline()
{
    Stop();
}

void BlockPipeline::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

BlockPipeline::Block* BlockPipeline::Fill()
{
    // Slot n held block n - depth; it is free once block n - depth + 1, which
    // reads it as dictionary, has been collected.
    if (m_submitted - m_retired + 2 > m_slots.size())
        return nullptr;
    Block& b = m_slots[m_submitted % m_slots.size()];
    b.inLen = 0;
    b.outLen = 0;
    b.chained = false;
    b.failed = false;
    b.noMemory = false;
    return &b;
}

void BlockPipeline::Submit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_submitted;
    }
    m_work.notify_one();
}

BlockPipeline::Block* BlockPipeline::Oldest()
{
    if (m_retired == m_submitted)
        return nullptr;
    const size_t slot = m_retired % m_slots.size();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [&] { return m_done[slot] != 0; });
    return &m_slots[slot];
}

void BlockPipeline::Retire()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done[m_retired % m_slots.size()] = 0;
    ++m_retired;
}

bool BlockPipeline::Compress(Block& b, const Block* prev, MszipEncoder& encoder, MszipDecoder& decoder,
                             std::vector<uint8_t>& check)
{
    const uint8_t* dict = prev ? prev->in.data() : nullptr;
    const size_t dictLen = prev ? prev->inLen : 0;
    if (!encoder.Encode(dict, dictLen, b.in.data(), b.inLen, b.out.data(), b.outLen) ||
        !decoder.Decode(dict, dictLen, b.out.data(), b.outLen, check.data(), b.inLen) ||
        std::memcmp(check.data(), b.in.data(), b.inLen) != 0)
        return false;
    b.csum = DataChecksum(b.out.data(), static_cast<uint16_t>(b.outLen), static_cast<uint16_t>(b.inLen));
    return true;
}

void BlockPipeline::Work()
{
    // A worker that cannot allocate its coder fails every block it takes, so
    // the run ends with an error instead of the process.
    std::unique_ptr<MszipEncoder> encoder;
    std::unique_ptr<MszipDecoder> decoder;
    std::vector<uint8_t> check;
    try {
        check.resize(kBlockSize);
        encoder.reset(new MszipEncoder(m_level));
        decoder.reset(new MszipDecoder());
    } catch (const std::bad_alloc&) {
        encoder.reset();
    }
    for (;;) {
        uint64_t n;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_work.wait(lock, [&] { return m_stop || m_taken < m_submitted; });
            if (m_stop)
                return;
            n = m_taken++;
        }
        Block& b = m_slots[n % m_slots.size()];
        const Block* prev = b.chained ? &m_slots[(n + m_slots.size() - 1) % m_slots.size()] : nullptr;
        const auto start = std::chrono::steady_clock::now();
        b.noMemory = !encoder || !decoder;
        b.failed = b.noMemory || !Compress(b, prev, *encoder, *decoder, check);
        m_busyNs += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done[n % m_slots.size()] = 1;
        }
        m_finished.notify_all();
    }
}

} // namespace cab32
