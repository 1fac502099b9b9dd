// The same bytes for any number of threads: the pinned cabinets through the
// archiver's core on an in-memory file system (the bytes pinned, for one to
// three compressing threads and one or three reading threads), and a tree of
// small, empty and large files in many folders.
#include <gtest/gtest.h>

#include <cstdio>

#include <zlib.h>

#include "cab32/run/Archiver.h"
#include "tests/support/core_archive.h"
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

// Files read by one to four threads and compressed by one to three give the
// same cabinet, in the listed order: small files, empty ones, and large ones
// that come partly read ahead, across several folders.
TEST(Archive, TheSameBytesForAnyNumberOfReadingAndCompressingThreads)
{
    MemFiles fs;
    std::vector<std::string> contents;
    for (uint32_t i = 0; i < 300; ++i)
        contents.push_back(i % 50 == 7 ? Bytes(300000 + i, i) : i % 9 == 0 ? std::string() : Bytes(i * 37 % 5000, i));
    AddFiles(fs, contents);
    std::string all;
    for (const std::string& c : contents)
        all += c;
    for (const char* method : {"-mszip ", "-mlzx "}) {
        std::string first;
        for (unsigned threads : {1u, 2u, 3u})
            for (unsigned readers : {1u, 2u, 4u}) {
                SCOPED_TRACE(method + std::to_string(threads) + " compressing, " + std::to_string(readers) +
                             " reading");
                ArchiveOptions options;
                options.threads = threads;
                options.readers = readers;
                options.folderLimit = 1000000;
                options.lzxFolderBytes = 400000; // LZX folders end earlier than MSZIP ones
                ASSERT_FALSE(Archive(fs, method + std::string(kProgramCommand), options));
                const std::string cab = fs.files["C:\\Out\\b.cab"];
                if (first.empty())
                    first = cab;
                EXPECT_TRUE(cab == first);
                VerifiedCabinet v;
                ASSERT_FALSE(Verify(cab, v));
                size_t at = 0;
                for (const auto& f : v.folders) {
                    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(all.data() + at), static_cast<uInt>(f.bytes)),
                              f.crc);
                    at += f.bytes;
                }
                EXPECT_EQ(all.size(), at);
                EXPECT_LT(method[2] == 'l' ? 4u : 1u, v.folders.size());
            }
    }
}

// Each listed file is stored under the name the file opener gives (its true
// name, UTF-8 flagged with 0x80 where the code page cannot hold it); two
// names that Windows takes for one file are refused at the later line.
