#include "cab32/run/LzxPipeline.h"

#include <algorithm>
#include <chrono>
#include <new>

#include <zlib.h>

#include "cab32/format/CabFormat.h"

namespace cab32 {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

} // namespace

// One folder on its way through: its input in chunks, its frames once encoded.
struct LzxPipeline::Folder
{
    int windowBits = 0;
    uint64_t plannedBytes = 0;              // the bytes it is planned to hold
    std::deque<std::vector<uint8_t>> input; // chunks sent and not yet encoded
    std::deque<Frame> frames;               // frames encoded and not yet taken
    bool closed = false;                    // no more input comes
    bool taken = false;                     // a worker encodes it
    bool done = false;                      // every frame is in 'frames' (or it failed)
    bool failed = false;
    bool noMemory = false;
    uint32_t crc = 0;                // CRC-32 of its input, once done
    std::condition_variable arrived; // input came or the folder was closed (its worker waits)
    bool workerWaits = false;        // its worker waits on 'arrived'
};

LzxPipeline::LzxPipeline(unsigned threads, const LzxOptions& options, size_t inputCap, size_t outputCap)
    : m_options(options), m_inputCap(std::max(inputCap, kChunkBytes)), m_outputCap(outputCap)
{
    try {
        for (unsigned i = 0; i < std::max(threads, 1u); ++i)
            m_threads.emplace_back(&LzxPipeline::Work, this);
    } catch (...) {
        Stop();
        throw;
    }
}

LzxPipeline::~LzxPipeline()
{
    Stop();
}

void LzxPipeline::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        for (const std::unique_ptr<Folder>& f : m_folders)
            f->arrived.notify_all();
    }
    m_work.notify_all();
    m_room.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

void LzxPipeline::Open(int windowBits, uint64_t folderBytes)
{
    std::unique_ptr<Folder> f(new Folder);
    f->windowBits = windowBits;
    f->plannedBytes = folderBytes;
    m_feeding = f.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_folders.push_back(std::move(f));
    if (m_idle > 0)
        m_work.notify_one();
}

uint8_t* LzxPipeline::Fill(size_t& room)
{
    if (m_chunkLen == kChunkBytes)
        SendChunk();
    if (m_chunk.empty()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_inputHeld >= m_inputCap)
            return nullptr;
        if (!m_spare.empty()) {
            m_chunk = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    m_chunk.resize(kChunkBytes);
    room = kChunkBytes - m_chunkLen;
    return m_chunk.data() + m_chunkLen;
}

void LzxPipeline::Filled(size_t len)
{
    m_chunkLen += len;
}

void LzxPipeline::SendChunk()
{
    if (m_chunkLen == 0)
        return;
    m_chunk.resize(m_chunkLen);
    m_chunkLen = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inputHeld += m_chunk.size();
    m_feeding->input.push_back(std::move(m_chunk));
    m_chunk = std::vector<uint8_t>();
    if (m_feeding->workerWaits)
        m_feeding->arrived.notify_one();
}

void LzxPipeline::Close()
{
    if (m_feeding == nullptr)
        return;
    SendChunk();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_feeding->closed = true;
    if (m_feeding->workerWaits)
        m_feeding->arrived.notify_one();
    m_feeding = nullptr;
}

LzxPipeline::Took LzxPipeline::Take(Frame& frame, Wait wait)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_folders.empty())
        return Took::Nothing;
    Folder& f = *m_folders.front();
    if (wait != Wait::No) {
        m_callerWaits = true;
        m_progress.wait(lock, [&] {
            return !f.frames.empty() || f.done || (wait == Wait::ForFolderOrRoom && m_inputHeld < m_inputCap);
        });
        m_callerWaits = false;
    }
    if (!f.frames.empty()) {
        frame = std::move(f.frames.front());
        f.frames.pop_front();
        m_outputHeld -= frame.frame.data.size();
        frame.windowBits = f.windowBits;
        if (m_roomWaits > 0 && m_outputHeld <= m_outputCap / 2)
            m_room.notify_all();
        return Took::Frame;
    }
    if (!f.done)
        return Took::Nothing;
    if (f.failed) {
        m_noMemory = f.noMemory;
        return Took::Failed;
    }
    frame = Frame();
    frame.windowBits = f.windowBits;
    m_doneCrc = f.crc;
    m_folders.pop_front();
    if (m_roomWaits > 0)
        m_room.notify_all(); // another folder is the oldest now
    return Took::FolderDone;
}

LzxPipeline::Folder* LzxPipeline::Untaken()
{
    for (const std::unique_ptr<Folder>& f : m_folders) {
        if (!f->taken)
            return f.get();
    }
    return nullptr;
}

void LzxPipeline::Work()
{
    for (;;) {
        Folder* f = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_idle;
            m_work.wait(lock, [&] { return m_stop || Untaken() != nullptr; });
            --m_idle;
            if (m_stop)
                return;
            f = Untaken();
            f->taken = true;
        }
        bool ok = false;
        bool noMemory = false;
        try {
            ok = Encode(*f);
        } catch (const std::bad_alloc&) {
            noMemory = true;
        } catch (...) {
            ok = false;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        f->failed = !ok;
        f->noMemory = noMemory;
        f->done = true;
        if (m_callerWaits)
            m_progress.notify_one();
    }
}

bool LzxPipeline::Encode(Folder& f)
{
    LzxEncoder encoder(f.windowBits, f.plannedBytes, m_options);
    uint32_t crc = static_cast<uint32_t>(crc32(0, Z_NULL, 0));
    for (;;) {
        std::vector<uint8_t> chunk;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            f.workerWaits = true;
            f.arrived.wait(lock, [&] { return m_stop || !f.input.empty() || f.closed; });
            f.workerWaits = false;
            if (m_stop)
                return false;
            if (f.input.empty())
                break;
            chunk = std::move(f.input.front());
            f.input.pop_front();
        }
        const auto start = std::chrono::steady_clock::now();
        crc = static_cast<uint32_t>(crc32(crc, chunk.data(), static_cast<uInt>(chunk.size())));
        encoder.Write(chunk.data(), chunk.size());
        m_busyNs += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_inputHeld -= chunk.size();
            chunk.clear();
            m_spare.push_back(std::move(chunk));
            if (m_callerWaits)
                m_progress.notify_one();
        }
        if (!Hand(f, encoder))
            return false;
    }
    encoder.Finish();
    f.crc = crc;
    return Hand(f, encoder);
}

bool LzxPipeline::Hand(Folder& f, LzxEncoder& encoder)
{
    std::deque<Frame> ready;
    size_t bytes = 0;
    LzxFrame lf;
    while (encoder.TakeFrame(lf)) {
        Frame frame;
        frame.csum =
            DataChecksum(lf.data.data(), static_cast<uint16_t>(lf.data.size()), static_cast<uint16_t>(lf.uncompressed));
        bytes += lf.data.size();
        frame.frame = std::move(lf);
        ready.push_back(std::move(frame));
    }
    if (ready.empty())
        return true;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_roomWaits;
        m_room.wait(lock,
                    [&] { return m_stop || m_folders.front().get() == &f || m_outputHeld + bytes <= m_outputCap; });
        --m_roomWaits;
        if (m_stop)
            return false;
        for (Frame& frame : ready)
            f.frames.push_back(std::move(frame));
        m_outputHeld += bytes;
        if (m_callerWaits && m_folders.front().get() == &f)
            m_progress.notify_one();
    }
    return true;
}

} // namespace cab32
