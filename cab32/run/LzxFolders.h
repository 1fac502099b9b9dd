// LZX folders compressed side by side. The caller opens folders in order and
// feeds each one's bytes in chunks; a worker takes the oldest folder that has
// none, encodes it as one LZX stream while its bytes arrive, and sums its
// frames' CFDATA checksums and its input's CRC-32. The caller takes the frames
// (the blocks) of the oldest folder in order. Memory is bounded: input waiting in chunks
// (the caller gets no chunk while too much waits) and frames of folders behind
// the oldest (their workers wait while too much is held); the oldest folder's
// worker never waits, so the run always moves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "cab32/codec/Lzx.h"
#include "cab32/run/FolderCompressor.h"
#include "cab32/run/WorkerThreads.h"

namespace cab32 {

class LzxFolders : public FolderCompressor
{
public:
    // windowBits: every folder's window, or 0 for the smallest that holds
    // each; inputCap and outputCap: bytes of input chunks and of frames
    // behind the oldest folder held at most.
    LzxFolders(unsigned threads, const LzxOptions& options, int windowBits, size_t inputCap, size_t outputCap);
    ~LzxFolders() override;
    LzxFolders(const LzxFolders&) = delete;
    LzxFolders& operator=(const LzxFolders&) = delete;

    void Open(uint64_t plannedBytes) override;
    uint8_t* Fill(size_t& room) override;
    void Filled(size_t len) override;
    void Close() override;
    Took Take(Output& out, Wait wait) override;
    size_t OpenFolders() const override { return m_folders.size(); }
    bool NoMemory() const override { return m_noMemory; }
    double BusySeconds() const override { return m_workers.BusySeconds(); }
    // The last frames and the E8 translation depend on the folder's size.
    bool CodedForPlannedSize() const override { return true; }
    bool ReadBackCrcs() const override { return true; }

private:
    // One CFDATA payload with its checksum.
    struct Frame
    {
        LzxFrame frame;    // the payload and its uncompressed size
        uint32_t csum = 0; // CFDATA checksum of the payload, cbData and cbUncomp
    };
    struct Folder;

    void Work();
    // Encodes one folder from its chunks until its last; false when out of memory.
    bool Encode(Folder& f);
    // Hands the encoder's ready frames to the caller, waiting for room unless f is the oldest;
    // false when stopped.
    bool Hand(Folder& f, LzxEncoder& encoder);
    // Sends the chunk being filled, if it holds anything.
    void SendChunk();
    // The oldest folder no worker has taken; nullptr when none.
    Folder* Untaken();
    // Makes every worker return.
    void Wake();

    LzxOptions m_options;
    int m_windowBits; // every folder's, or 0 to fit each
    size_t m_inputCap;
    size_t m_outputCap;
    std::mutex m_mutex;
    // Each wake-up under Wine is a request to its server, which also serves
    // every file opened: a thread is woken only when it waits for what happened.
    std::condition_variable m_work;                // a folder was opened, or stop (idle workers wait)
    std::condition_variable m_room;                // frames were taken or the oldest folder changed, or stop
    std::condition_variable m_progress;            // input was taken, the oldest folder's frames came, or it ended
    unsigned m_idle = 0;                           // workers waiting for a folder
    unsigned m_roomWaits = 0;                      // workers waiting for room for their frames
    bool m_callerWaits = false;                    // the caller waits in Take
    std::deque<std::unique_ptr<Folder>> m_folders; // open folders, oldest first
    Folder* m_feeding = nullptr;                   // the folder being fed, until closed
    std::vector<uint8_t> m_chunk;                  // the chunk being filled
    size_t m_chunkLen = 0;                         // bytes filled in it
    std::vector<std::vector<uint8_t>> m_spare;     // emptied chunks, for reuse
    size_t m_inputHeld = 0;                        // bytes in chunks sent and not yet encoded
    size_t m_outputHeld = 0;                       // bytes of frames held behind the oldest folder
    Frame m_taken;                                 // the frame Take gave last
    bool m_noMemory = false;
    bool m_stop = false;
    WorkerThreads m_workers{[this] { Wake(); }}; // last: stopped before anything they use goes
};

} // namespace cab32
