// Compressing a cabinet's folders on worker threads, whatever the method. The
// writing pass opens each folder with the bytes it is planned to hold, copies
// its files' bytes into the room Fill gives, closes it, and takes what comes
// out in the order the folders were opened: each folder's blocks (CFDATA
// payloads), then its end. Take is how the caller both writes and waits, so
// the work never stalls: the compressor holds a bounded amount of input and
// output, and Fill gives no room while it is full. A method is one class
// (MszipFolders.h, LzxFolders.h); MakeFolderCompressor picks it once a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace cab32 {

struct ArchiveOptions;

class FolderCompressor
{
public:
    // What Take waits for.
    enum class Wait {
        No,              // takes what is ready
        ForFolder,       // until the oldest folder gives something
        ForFolderOrRoom, // the same, or until Fill would give room
    };

    // What taking from the oldest folder gave.
    enum class Took {
        Nothing,    // nothing ready yet
        Block,      // the next block of the oldest folder
        FolderDone, // the oldest folder has given all its blocks; it is gone
        Failed,     // compressing the oldest folder failed (NoMemory says why)
    };

    // What Take gave: a block, or the end of a folder.
    struct Output
    {
        uint16_t typeCompress = 0;     // CFFOLDER.typeCompress of the block's folder
        const uint8_t* data = nullptr; // the block's payload, valid until the next call on the compressor
        size_t cbData = 0;             // bytes of payload
        size_t cbUncomp = 0;           // the uncompressed bytes it stands for
        uint32_t csum = 0;             // its CFDATA checksum
        uint32_t crc = 0;              // FolderDone: the CRC-32 of the folder's bytes (where ReadBackCrcs)
    };

    virtual ~FolderCompressor() = default;

    // Opens the next folder (the one before must be closed), planned to hold plannedBytes.
    virtual void Open(uint64_t plannedBytes) = 0;
    // Room to copy up to 'room' of the open folder's next bytes into, or
    // nullptr while the compressor is full: then Take must make room first.
    virtual uint8_t* Fill(size_t& room) = 0;
    // The bytes copied into the last Fill's room.
    virtual void Filled(size_t len) = 0;
    // No more bytes for the open folder; nothing when none is open.
    virtual void Close() = 0;
    // Takes from the oldest folder opened and not yet done.
    virtual Took Take(Output& out, Wait wait) = 0;
    // Folders opened and not yet done.
    virtual size_t OpenFolders() const = 0;
    // Whether the folder that failed could not get its memory.
    virtual bool NoMemory() const = 0;
    // Seconds the workers spent compressing, summed over them.
    virtual double BusySeconds() const = 0;
    // Whether a folder's bytes are coded for the size it was planned to hold,
    // so that a file stored at another size has the run planned again.
    virtual bool CodedForPlannedSize() const = 0;
    // Whether FolderDone gives the CRC-32 of the folder's bytes for the
    // read-back to compare (its blocks were not decoded again as they were made).
    virtual bool ReadBackCrcs() const = 0;
};

// The compressor of the options' method, on that many threads.
std::unique_ptr<FolderCompressor> MakeFolderCompressor(const ArchiveOptions& options, unsigned threads);

} // namespace cab32
