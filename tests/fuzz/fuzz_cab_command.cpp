// Runs the archiver on a fuzzed command line and response file over an
// in-memory file system. Input: the command line, a newline, then the bytes of
// every response file (any name ending in .txt). Every other name under the
// base folder is a small file, so whatever the parser accepts is archived,
// read back and verified; nothing may crash, hang or leak. The file system is
// the tests' own in memory (tests/support/mem_files.h).
#include <cstddef>
#include <cstdint>
#include <string>

#include "cab32/run/Archiver.h"
#include "tests/support/mem_files.h"

namespace {

using namespace cab32;

// Bytes all the cabinets of one run may take: past it the disk is full.
constexpr size_t kDiskRoom = 4 << 20;

bool EndsWith(const std::string& text, const char* end)
{
    const std::string tail(end);
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string command = input.substr(0, newline);
    std::string response = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    MemFiles files;
    files.diskRoom = kDiskRoom;
    // Every name under the base folder is a file, made when first looked up.
    files.onStat = [&files, &response](const std::string& path) -> uint32_t {
        if (path.compare(0, 7, "C:\\Src\\") == 0 && path.size() > 7 && !files.files.count(path) &&
            !files.folders.count(path + "\\"))
            files.files[path] = EndsWith(path, ".txt") ? response : "int main() { return 0; } // " + path;
        return 0;
    };
    ArchiveOptions options;
    options.pause = [](unsigned) {};
    ArchiveReport report;
    RunCommand(command, files, options, report);
    return 0;
}
