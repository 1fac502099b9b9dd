// MSZIP folders, their blocks compressed side by side. The caller fills
// blocks in order; worker threads compress each one with the previous block
// of its folder as dictionary (input that is already known), decompress the
// result again to prove it, and compute its CFDATA checksum; the caller takes
// them in the same order. A slot is refilled only once the block after it has
// been taken, so a dictionary stays in place until its reader is done with it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "cab32/run/FolderCompressor.h"
#include "cab32/run/WorkerThreads.h"

namespace cab32 {

class MszipEncoder;
class MszipDecoder;

class MszipFolders : public FolderCompressor
{
public:
    MszipFolders(unsigned threads, int level);
    ~MszipFolders() override;
    MszipFolders(const MszipFolders&) = delete;
    MszipFolders& operator=(const MszipFolders&) = delete;

    void Open(uint64_t plannedBytes) override;
    uint8_t* Fill(size_t& room) override;
    void Filled(size_t len) override;
    void Close() override;
    Took Take(Output& out, Wait wait) override;
    size_t OpenFolders() const override { return m_folders.size(); }
    bool NoMemory() const override { return m_noMemory; }
    double BusySeconds() const override { return m_workers.BusySeconds(); }
    bool CodedForPlannedSize() const override { return false; }
    bool ReadBackCrcs() const override { return false; }

private:
    struct Block
    {
        std::vector<uint8_t> in;  // uncompressed bytes, kBlockSize capacity
        std::vector<uint8_t> out; // the MSZIP payload, kMaxBlockData capacity
        size_t inLen = 0;         // bytes in 'in'
        size_t outLen = 0;        // bytes in 'out'
        bool chained = false;     // the previous block of the same folder is the dictionary
        uint32_t csum = 0;        // CFDATA checksum of out, cbData and cbUncomp
        bool failed = false;      // zlib failed, or the block did not decompress to its input
        bool noMemory = false;    // failed because the worker could not allocate its coder
    };

    // A folder opened and not yet done.
    struct Folder
    {
        bool closed = false; // no more blocks come
        uint64_t end = 0;    // once closed: the number of the block after its last
    };

    // The next slot to fill, or nullptr while every slot is busy.
    Block* FreeSlot();
    // Hands the block being filled to the workers.
    void Submit();
    void Work();
    // Compresses, checks and sums one block; false when it failed.
    bool Compress(Block& b, const Block* prev, MszipEncoder& encoder, MszipDecoder& decoder,
                  std::vector<uint8_t>& check);
    // Makes every worker return.
    void Wake();

    std::vector<Block> m_slots;
    std::vector<uint8_t> m_done; // per slot: compressed and not yet taken
    std::deque<Folder> m_folders;
    Block* m_block = nullptr; // the block being filled, if any
    bool m_chained = false;   // the next block continues its folder
    bool m_noMemory = false;
    std::mutex m_mutex;
    std::condition_variable m_work;     // a block was submitted, or stop
    std::condition_variable m_finished; // a block was compressed
    uint64_t m_submitted = 0;           // blocks handed to the workers
    uint64_t m_taken = 0;               // blocks a worker has started
    uint64_t m_retired = 0;             // blocks taken by the caller
    int m_level;
    bool m_stop = false;
    WorkerThreads m_workers{[this] { Wake(); }}; // last: stopped before anything they use goes
};

} // namespace cab32
