// The pinned cabinets through the archiver's core on an in-memory file system:
// the same bytes for one to three compressing threads and one or three
// reading threads, and those bytes the ones pinned.
#include <gtest/gtest.h>

#include <cstdio>

#include "cab32/run/Archiver.h"
#include "tests/support/mem_files.h"
#include "tests/support/pinned_cabinets.h"

using namespace cab32;

namespace {

// The cabinets of the set made in C:\Out\, in order.
std::vector<std::string> SetMembers(MemFiles& fs)
{
    std::vector<std::string> cabinets;
    for (size_t i = 0; fs.files.count("C:\\Out\\" + pinned::MemberName(i)) != 0; ++i)
        cabinets.push_back(fs.files["C:\\Out\\" + pinned::MemberName(i)]);
    return cabinets;
}

std::string Hex(uint64_t digest)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llXull", static_cast<unsigned long long>(digest));
    return text;
}

TEST(PinnedCabinets, TheSameBytesAsPinnedForAnyNumberOfThreads)
{
    const std::vector<pinned::TreeFile> tree = pinned::Tree();
    for (const pinned::Case& c : pinned::Cases()) {
        for (unsigned threads : {1u, 2u, 3u})
            for (unsigned readers : {1u, 3u}) {
                SCOPED_TRACE(std::string(c.description) + ", " + std::to_string(threads) + " compressing, " +
                             std::to_string(readers) + " reading");
                MemFiles fs;
                for (const pinned::TreeFile& f : tree)
                    fs.files["C:\\Src\\" + f.first] = f.second;
                fs.files["C:\\Src\\respons.txt"] = pinned::ResponseFile(tree);
                ArchiveOptions options;
                options.threads = threads;
                options.readers = readers;
                options.pause = [](unsigned) {};
                options.setID = 0x4B56;
                if (c.smallFolders) {
                    options.folderLimit = 600000;
                    options.lzxFolderBytes = 200000;
                }
                const std::string command =
                    std::string(c.switches) + " -a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";
                ArchiveReport report;
                ASSERT_EQ(CAB_OK, RunCommand(command, fs, options, report).code);
                const std::vector<std::string> cabinets = SetMembers(fs);
                ASSERT_EQ(report.cabinets, cabinets.size());
                for (const std::string& cab : cabinets)
                    EXPECT_EQ("\x56\x4B", cab.substr(32, 2)) << "every member carries the set's ID";
                EXPECT_EQ(Hex(c.digest), Hex(pinned::Digest(cabinets)));
            }
    }
}

} // namespace
