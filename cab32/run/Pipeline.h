// MSZIP blocks compressed side by side. The caller fills blocks in order and
// collects them in the same order; worker threads compress each one with the
// previous block of its folder as dictionary (input that is already known),
// decompress the result again to prove it, and compute its CFDATA checksum.
// A slot is refilled only once the block after it has been collected, so a
// dictionary stays in place until its reader is done with it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace cab32 {

class MszipEncoder;
class MszipDecoder;

class BlockPipeline
{
public:
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

    BlockPipeline(unsigned threads, int level);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The next block to fill, or nullptr while every slot is busy: then
    // Oldest and Retire must free one first.
    Block* Fill();
    // Hands the block Fill returned to the workers.
    void Submit();
    // The oldest submitted block, once compressed; nullptr when none is pending.
    Block* Oldest();
    // The oldest block has been written.
    void Retire();
    bool Pending() const { return m_retired != m_submitted; }
    // Seconds the workers spent compressing, summed over them.
    double BusySeconds() const { return static_cast<double>(m_busyNs.load()) / 1e9; }

private:
    void Work();
    // Compresses, checks and sums one block; false when it failed.
    bool Compress(Block& b, const Block* prev, MszipEncoder& encoder, MszipDecoder& decoder,
                  std::vector<uint8_t>& check);
    // Ends and joins the workers.
    void Stop();

    std::vector<Block> m_slots;
    std::vector<uint8_t> m_done; // per slot: compressed and not yet retired
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_work;     // a block was submitted, or stop
    std::condition_variable m_finished; // a block was compressed
    uint64_t m_submitted = 0;           // blocks handed to the workers
    uint64_t m_taken = 0;               // blocks a worker has started
    uint64_t m_retired = 0;             // blocks collected by the caller
    int m_level;
    bool m_stop = false;
    std::atomic<uint64_t> m_busyNs{0}; // time spent in Compress, all workers
};

} // namespace cab32
