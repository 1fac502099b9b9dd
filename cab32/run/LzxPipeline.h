// LZX folders compressed side by side. The caller opens folders in order and
// feeds each one's bytes in chunks; a worker takes the oldest folder that has
// none, encodes it as one LZX stream while its bytes arrive, and sums its
// frames' CFDATA checksums and its input's CRC-32. The caller takes the frames
// of the oldest folder in order. Memory is bounded: input waiting in chunks
// (the caller gets no chunk while too much waits) and frames of folders behind
// the oldest (their workers wait while too much is held); the oldest folder's
// worker never waits, so the run always moves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cab32/codec/Lzx.h"

namespace cab32 {

class LzxPipeline
{
public:
    // One CFDATA payload with its checksum.
    struct Frame
    {
        LzxFrame frame;     // the payload and its uncompressed size
        uint32_t csum = 0;  // CFDATA checksum of the payload, cbData and cbUncomp
        int windowBits = 0; // the window of the frame's folder
    };

    // What Take waits for.
    enum class Wait {
        No,              // takes what is ready
        ForFolder,       // until the oldest folder gives something
        ForFolderOrRoom, // the same, or until Fill would give room
    };

    // What taking from the oldest folder gave.
    enum class Took {
        Nothing,    // nothing ready yet
        Frame,      // the next frame of the oldest folder
        FolderDone, // the oldest folder has given all its frames; it is gone
        Failed,     // the oldest folder's worker failed (noMemory says why)
    };

    // threads: folders encoded at once; inputCap and outputCap: bytes of
    // input chunks and of frames behind the oldest folder held at most.
    LzxPipeline(unsigned threads, const LzxOptions& options, size_t inputCap, size_t outputCap);
    ~LzxPipeline();
    LzxPipeline(const LzxPipeline&) = delete;
    LzxPipeline& operator=(const LzxPipeline&) = delete;

    // Opens the next folder (the previous one must be closed) with its window
    // and the bytes it is planned to hold.
    void Open(int windowBits, uint64_t folderBytes);
    // Room to copy up to 'room' bytes of the open folder into, or nullptr
    // while too much input waits: then take frames or wait first.
    uint8_t* Fill(size_t& room);
    // The bytes copied into the last Fill's room.
    void Filled(size_t len);
    // No more bytes for the open folder.
    void Close();
    // Takes from the oldest open folder; FolderDone also gives its window.
    Took Take(Frame& frame, Wait wait);
    // The CRC-32 of the bytes of the folder Take last reported done.
    uint32_t DoneCrc() const { return m_doneCrc; }
    // Whether the folder that failed could not get its memory.
    bool NoMemory() const { return m_noMemory; }
    // Folders opened and not yet done.
    size_t OpenFolders() const { return m_folders.size(); }
    // Seconds the workers spent encoding, summed over them.
    double BusySeconds() const { return static_cast<double>(m_busyNs.load()) / 1e9; }

private:
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
    void Stop();

    LzxOptions m_options;
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
    uint32_t m_doneCrc = 0;
    bool m_noMemory = false;
    bool m_stop = false;
    std::atomic<uint64_t> m_busyNs{0};
    std::vector<std::thread> m_threads;
};

} // namespace cab32
