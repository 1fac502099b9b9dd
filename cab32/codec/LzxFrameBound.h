// Keeping every LZX frame within what readers accept, whatever the input.
//
// A block shares one set of trees among its bytes, so a frame whose bytes
// differ from the rest of its block can cost more than 9 bits a byte and pass
// the 38,912 bytes a reader takes. The stage below writes a group of whole
// frames as the encoder chose (its blocks, which may start and end inside a
// frame); when a frame passes the limit it puts the writer back (the frames,
// the bits and the previous trees the next block's are sent against) and
// writes the group again, one block per frame (each with trees of its own,
// the items divided at the frame ends); a frame that still passes goes out as
// an uncompressed block, which always fits (at most 32,788 bytes: the frame's
// bytes, R0..R2 and up to 8 bytes of headers). Nothing else needs undoing:
// the items are kept as parsed (matches never cross a frame's end, so they
// divide there), the repeated offsets an uncompressed block leaves are those
// its items would have left, and the bytes (E8 translated or not) and the
// match finder's tables are the parse's.
//
// The same stage keeps the folder's short last frame readable by libmspack
// (cabextract): it learns that the last frame is short only once it has read
// some of that frame's CFDATA, and it reads payloads 4,096 bytes at a time.
// When the payloads before that frame end on a multiple of 4,096 and the
// frame before leaves nothing to read ahead (an uncompressed frame never
// does, a compressed one at times), it decodes a whole frame there and fails.
// So the payloads before a short last frame never end on a multiple of 4,096:
// the frame before it is written alone, else uncompressed, else as two
// uncompressed blocks (16 bytes more).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cab32/codec/LzxBlockWriter.h"

namespace cab32 {
namespace lzx {

// One block of a group as the encoder chose it.
struct GroupBlock
{
    size_t count;            // items, following those of the group's blocks before it
    uint32_t size;           // bytes they cover
    const BlockCodes* codes; // the block's code lengths
};

// A run of whole frames to write: it starts on a frame and ends on one, or at
// the folder's end.
struct FrameGroup
{
    const Item* items;        // the parse of the group's bytes
    size_t count;             // items
    const GroupBlock* blocks; // the blocks they are written as, in order
    size_t blockCount;        // blocks (0: the items as one block, codes from their counts)
    const uint8_t* data;      // the group's bytes as coded (after E8 translation)
    uint32_t size;            // bytes in the group
    uint32_t reps[3];         // the repeated offsets before its first item
    bool last;                // the folder's last group: its last frame is cut at its end
    uint32_t shortLast;       // stream offset of the folder's last frame when it is short and not the first, else 0
};

// Writes the group so that no frame's payload passes limit (an uncompressed
// frame is written whatever the limit: it is the last resort).
void WriteWithinBound(BlockWriter& writer, const FrameGroup& group, uint32_t limit);

} // namespace lzx
} // namespace cab32
