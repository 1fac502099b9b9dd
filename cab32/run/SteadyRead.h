// Reading a file that may change while the run reads it. A file is read as
// it is when opened and checked afterwards against what the listing saw (size
// and last write, from the open file). A file read whole in memory is read
// again, a few times at most, until two looks agree: an editor's save
// settles in milliseconds. A larger one is streamed once; if it changed
// while it was read, it cannot be stored, and the run names it instead.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cab32/format/CabError.h"
#include "cab32/format/CabIo.h"
#include "cab32/run/RunPlan.h"

namespace cab32 {

// Files listed at up to this size are read whole; a larger one is streamed.
constexpr size_t kWholeFile = 256 * 1024;
// What is read ahead of a streamed file.
constexpr size_t kHeadOfLarge = 64 * 1024;
// Pauses before each new reading of a file read whole that changed (ms).
constexpr unsigned kSettlePauses[] = {0, 10, 50, 200};

// What became of a file between the listing and its read.
enum class Motion : uint8_t {
    None,     // read as listed
    Renewed,  // another version than listed, read steady (seen describes it)
    Vanished, // gone: it is left out
    Changed,  // no one version could be read whole: it is left out
    Replan    // a steady version the plan cannot hold as it is: the run plans and writes again
};

// One file as a reading thread hands it over.
struct FileRead
{
    std::vector<uint8_t> head;        // the file's first bytes (all of a file read whole)
    std::unique_ptr<ByteSource> rest; // the open file, when there is more to read
    CabError error;                   // opening or reading failed; later files never come
    Motion motion = Motion::None;     // what became of it since the listing
    SourceInfo seen;                  // the version read: for a streamed file, as it was opened
    size_t held = 0;                  // bytes counted against the read-ahead limit
};

// Reads a file listed at up to kWholeFile bytes whole, until one version of it is read steady.
void ReadWhole(ByteSource& source, const PlannedFile& listed, const std::string& path,
               const std::function<void(unsigned)>& pause, FileRead& r);

// Reads the head of a larger file and notes the version it was opened as; a
// file that is all head is checked at once.
void ReadHead(std::unique_ptr<ByteSource> source, const PlannedFile& listed, const std::string& path, FileRead& r);

// After the rest of a streamed file was read: false when it is no longer the version it was opened as.
bool StillAsOpened(ByteSource& source, const SourceInfo& opened, const std::string& path, CabError& error);

// The room a cabinet keeps for files stored at another size than listed. The
// plan counted every cabinet at its worst (no block compressed); a file that
// grew is taken only while its cabinet, at its worst with every growth so far,
// stays within its limit, and its folder within the folder limit.
class GrowthBudget
{
public:
    explicit GrowthBudget(uint64_t worstBlock) : m_worstBlock(worstBlock) {}
    void StartCabinet(uint64_t plannedWorst, uint64_t limit);
    void StartFolder(uint64_t plannedBytes, uint64_t limit);
    // True, counting it, when a file listed at 'listed' bytes fits at 'now' bytes.
    bool Take(uint64_t listed, uint64_t now);

private:
    // Bytes a folder's worst case can grow by when its data grows by g bytes.
    uint64_t Bound(int64_t g) const;

    uint64_t m_worstBlock;        // the largest CFDATA record, header included
    uint64_t m_worst = 0;         // the cabinet's planned worst size
    uint64_t m_limit = 0;         // bytes the cabinet may take
    uint64_t m_closed = 0;        // growth of the cabinet's earlier folders at worst
    int64_t m_growth = 0;         // bytes the current folder holds over its plan (under, when negative)
    uint64_t m_folderPlanned = 0; // bytes the current folder was planned to hold
    uint64_t m_folderLimit = 0;   // bytes a folder may hold
};

} // namespace cab32
