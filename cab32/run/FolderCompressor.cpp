#include "cab32/run/FolderCompressor.h"

#include "cab32/run/Archiver.h"
#include "cab32/run/LzxFolders.h"
#include "cab32/run/MszipFolders.h"

namespace cab32 {

namespace {

// Bytes of LZX input and of frames behind the oldest folder held at most, per
// compressing thread: half a folder of input lets the next folder start while
// the one before still has half its bytes to encode.
constexpr size_t kLzxInputPerThread = kLzxFolderBytes / 2;
constexpr size_t kLzxOutputPerThread = 1024 * 1024;

} // namespace

std::unique_ptr<FolderCompressor> MakeFolderCompressor(const ArchiveOptions& options, unsigned threads)
{
    if (options.method == Method::Lzx)
        return std::unique_ptr<FolderCompressor>(new LzxFolders(
            threads, options.lzx, options.lzxWindowBits, kLzxInputPerThread * threads, kLzxOutputPerThread * threads));
    return std::unique_ptr<FolderCompressor>(new MszipFolders(threads, options.level));
}

} // namespace cab32
