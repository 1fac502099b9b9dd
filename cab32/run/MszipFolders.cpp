#include "cab32/run/MszipFolders.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Mszip.h"

namespace cab32 {

MszipFolders::MszipFolders(unsigned threads, int level) : m_level(level)
{
    threads = std::max(threads, 1u);
    // Enough slots for every worker to hold one block and the caller to fill
    // the next ones, plus the dictionary that the oldest block still needs.
    const size_t depth = 16 * threads + 4;
    m_slots.resize(depth);
    m_done.assign(depth, 0);
    for (Block& b : m_slots) {
        b.in.resize(kBlockSize);
        b.out.resize(kMaxBlockData);
    }
    m_workers.Start(threads, [this] { Work(); });
}

MszipFolders::~MszipFolders()
{
    m_workers.Stop();
}

void MszipFolders::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
}

void MszipFolders::Open(uint64_t)
{
    m_folders.push_back(Folder());
    m_chained = false;
    if (m_block != nullptr)
        m_block->chained = false;
}

MszipFolders::Block* MszipFolders::FreeSlot()
{
    // Slot n held block n - depth; it is free once block n - depth + 1, which
    // reads it as dictionary, has been taken.
    if (m_submitted - m_retired + 2 > m_slots.size())
        return nullptr;
    Block& b = m_slots[m_submitted % m_slots.size()];
    b.inLen = 0;
    b.outLen = 0;
    b.chained = m_chained;
    b.failed = false;
    b.noMemory = false;
    return &b;
}

uint8_t* MszipFolders::Fill(size_t& room)
{
    if (m_block == nullptr && (m_block = FreeSlot()) == nullptr)
        return nullptr;
    room = kBlockSize - m_block->inLen;
    return m_block->in.data() + m_block->inLen;
}

void MszipFolders::Filled(size_t len)
{
    m_block->inLen += len;
    if (m_block->inLen == kBlockSize) {
        Submit();
        m_chained = true;
    }
}

void MszipFolders::Submit()
{
    m_block = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_submitted;
    }
    m_work.notify_one();
}

void MszipFolders::Close()
{
    if (m_folders.empty() || m_folders.back().closed)
        return;
    if (m_block != nullptr && m_block->inLen > 0)
        Submit();
    m_folders.back().closed = true;
    m_folders.back().end = m_submitted;
}

// A block taken is retired at once: its slot cannot be filled again before
// the next block is taken too (FreeSlot), so its payload stays in place.
FolderCompressor::Took MszipFolders::Take(Output& out, Wait wait)
{
    if (m_folders.empty())
        return Took::Nothing;
    const Folder& f = m_folders.front();
    out = Output();
    out.typeCompress = kTypeMszip;
    if (m_retired < m_submitted && (!f.closed || m_retired < f.end)) {
        const size_t slot = m_retired % m_slots.size();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (wait == Wait::No && m_done[slot] == 0)
            return Took::Nothing;
        m_finished.wait(lock, [&] { return m_done[slot] != 0; });
        const Block& b = m_slots[slot];
        if (b.failed) {
            m_noMemory = b.noMemory;
            return Took::Failed;
        }
        m_done[slot] = 0;
        ++m_retired;
        out.data = b.out.data();
        out.cbData = b.outLen;
        out.cbUncomp = b.inLen;
        out.csum = b.csum;
        return Took::Block;
    }
    if (!f.closed)
        return Took::Nothing;
    m_folders.pop_front();
    return Took::FolderDone;
}

bool MszipFolders::Compress(Block& b, const Block* prev, MszipEncoder& encoder, MszipDecoder& decoder,
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

void MszipFolders::Work()
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
        m_workers.Busy([&] {
            b.noMemory = !encoder || !decoder;
            b.failed = b.noMemory || !Compress(b, prev, *encoder, *decoder, check);
        });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done[n % m_slots.size()] = 1;
        }
        m_finished.notify_all();
    }
}

} // namespace cab32
