#include "cab32/codec/LzxFrameBound.h"

#include <algorithm>
#include <stdexcept>

namespace cab32 {
namespace lzx {

namespace {

// Whether every frame cut since the first 'since' is within limit.
bool FramesWithin(BlockWriter& writer, size_t since, uint32_t limit)
{
    const std::deque<LzxFrame>& ready = writer.Ready();
    for (size_t i = since; i < ready.size(); ++i)
        if (ready[i].data.size() > limit)
            return false;
    return true;
}

// The payload libmspack reads at a time (its default input buffer, which
// cabextract keeps).
constexpr uint64_t kReaderInput = 4096;

// Whether the frames cut since mark leave the payloads before the folder's
// short last frame off a multiple of kReaderInput (true when that frame does
// not start among them).
bool LastFrameSized(BlockWriter& writer, const BlockWriter::Mark& mark, uint32_t shortLast)
{
    if (shortLast <= mark.written || shortLast > writer.Written())
        return true;
    const size_t before = mark.ready + (shortLast - mark.written) / kLzxFrameSize;
    uint64_t payload = mark.payload;
    for (size_t i = mark.ready; i < before; ++i)
        payload += writer.Ready()[i].data.size();
    return payload % kReaderInput != 0;
}

// The items of the frame that starts at group.items[first]: how many there are.
size_t ItemsOfFrame(const FrameGroup& group, size_t first, uint32_t frameBytes)
{
    size_t n = 0;
    uint32_t covered = 0;
    while (covered < frameBytes && first + n < group.count) {
        const Item& it = group.items[first + n++];
        covered += it.length == 0 ? 1 : it.length;
    }
    if (covered != frameBytes)
        throw std::logic_error("LZX items cross a frame's end");
    return n;
}

// Writes one frame as a block of its own; uncompressed when that passes limit
// or ends the payloads before a short last frame on a multiple of
// kReaderInput; if that still does, as two uncompressed blocks (its first two
// bytes, then the rest: 16 bytes more).
void WriteFrame(BlockWriter& writer, const FrameGroup& group, size_t first, size_t count, uint32_t at,
                uint32_t frameBytes, const uint32_t repsAfter[3], uint32_t limit)
{
    const bool cutAfter = group.last && at + frameBytes == group.size;
    BlockWriter::Mark mark;
    writer.Save(mark);
    writer.WriteBlock(group.items + first, count, frameBytes);
    if (cutAfter)
        writer.CutPartial();
    if (FramesWithin(writer, mark.ready, limit) && LastFrameSized(writer, mark, group.shortLast))
        return;
    writer.Restore(mark);
    writer.WriteUncompressed(group.data + at, frameBytes, repsAfter);
    if (cutAfter)
        writer.CutPartial();
    if (LastFrameSized(writer, mark, group.shortLast))
        return;
    writer.Restore(mark);
    writer.WriteUncompressed(group.data + at, 2, repsAfter);
    writer.WriteUncompressed(group.data + at + 2, frameBytes - 2, repsAfter);
}

// The group as the encoder chose it.
void WriteBlocks(BlockWriter& writer, const FrameGroup& group)
{
    if (group.blockCount == 0) {
        writer.WriteBlock(group.items, group.count, group.size);
        return;
    }
    size_t first = 0;
    for (size_t b = 0; b < group.blockCount; ++b) {
        const GroupBlock& block = group.blocks[b];
        writer.WriteBlock(group.items + first, block.count, block.size, *block.codes);
        first += block.count;
    }
    if (first != group.count)
        throw std::logic_error("LZX blocks do not hold their group's items");
}

// The group again, one frame a block.
void WriteFrameByFrame(BlockWriter& writer, const FrameGroup& group, uint32_t limit)
{
    uint32_t reps[3] = {group.reps[0], group.reps[1], group.reps[2]};
    size_t first = 0;
    for (uint32_t at = 0; at < group.size;) {
        const uint32_t frameBytes = std::min(kLzxFrameSize - (writer.Written() % kLzxFrameSize), group.size - at);
        const size_t count = ItemsOfFrame(group, first, frameBytes);
        for (size_t i = first; i < first + count; ++i)
            UpdateReps(reps, group.items[i]);
        WriteFrame(writer, group, first, count, at, frameBytes, reps, limit);
        first += count;
        at += frameBytes;
    }
}

} // namespace

void WriteWithinBound(BlockWriter& writer, const FrameGroup& group, uint32_t limit)
{
    if (writer.Written() % kLzxFrameSize != 0 || (!group.last && group.size % kLzxFrameSize != 0))
        throw std::logic_error("an LZX frame group must start and end on a frame");
    if (group.size == 0)
        return;
    BlockWriter::Mark mark;
    writer.Save(mark);
    WriteBlocks(writer, group);
    if (group.last)
        writer.CutPartial();
    if (FramesWithin(writer, mark.ready, limit) && LastFrameSized(writer, mark, group.shortLast))
        return;
    writer.Restore(mark);
    WriteFrameByFrame(writer, group, limit);
}

} // namespace lzx
} // namespace cab32
