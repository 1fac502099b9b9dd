#include "cab32/run/LzxFolders.h"

#include <algorithm>
#include <new>

#include <zlib.h>

#include "cab32/format/CabFormat.h"

namespace cab32 {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

} // namespace

// One folder on its way through: its input in chunks, its frames once encoded.
struct LzxFolders::Folder
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

LzxFolders::LzxFolders(unsigned threads, const LzxOptions& options, int windowBits, size_t inputCap, size_t outputCap)
    : m_options(options), m_windowBits(windowBits), m_inputCap(std::max(inputCap, kChunkBytes)), m_outputCap(outputCap)
{
    m_workers.Start(threads, [this] { Work(); });
}

LzxFolders::~LzxFolders()
{
    m_workers.Stop();
}

void LzxFolders::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        for (const std::unique_ptr<Folder>& f : m_folders)
            f->arrived.notify_all();
    }
    m_work.notify_all();
    m_room.notify_all();
}

// The window given, or the smallest that holds the folder.
void LzxFolders::Open(uint64_t plannedBytes)
{
    std::unique_ptr<Folder> f(new Folder);
    f->windowBits = m_windowBits != 0 ? m_windowBits : LzxWindowBitsFor(plannedBytes);
    f->plannedBytes = plannedBytes;
    m_feeding = f.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_folders.push_back(std::move(f));
    if (m_idle > 0)
        m_work.notify_one();
}

uint8_t* LzxFolders::Fill(size_t& room)
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

void LzxFolders::Filled(size_t len)
{
    m_chunkLen += len;
}

void LzxFolders::SendChunk()
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

void LzxFolders::Close()
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

FolderCompressor::Took LzxFolders::Take(Output& out, Wait wait)
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
    out = Output();
    out.typeCompress = LzxTypeCompress(f.windowBits);
    if (!f.frames.empty()) {
        m_taken = std::move(f.frames.front());
        f.frames.pop_front();
        m_outputHeld -= m_taken.frame.data.size();
        if (m_roomWaits > 0 && m_outputHeld <= m_outputCap / 2)
            m_room.notify_all();
        out.data = m_taken.frame.data.data();
        out.cbData = m_taken.frame.data.size();
        out.cbUncomp = m_taken.frame.uncompressed;
        out.csum = m_taken.csum;
        return Took::Block;
    }
    if (!f.done)
        return Took::Nothing;
    if (f.failed) {
        m_noMemory = f.noMemory;
        return Took::Failed;
    }
    out.crc = f.crc;
    m_folders.pop_front();
    if (m_roomWaits > 0)
        m_room.notify_all(); // another folder is the oldest now
    return Took::FolderDone;
}

LzxFolders::Folder* LzxFolders::Untaken()
{
    for (const std::unique_ptr<Folder>& f : m_folders) {
        if (!f->taken)
            return f.get();
    }
    return nullptr;
}

void LzxFolders::Work()
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

bool LzxFolders::Encode(Folder& f)
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
        m_workers.Busy([&] {
            crc = static_cast<uint32_t>(crc32(crc, chunk.data(), static_cast<uInt>(chunk.size())));
            encoder.Write(chunk.data(), chunk.size());
        });
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

bool LzxFolders::Hand(Folder& f, LzxEncoder& encoder)
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
