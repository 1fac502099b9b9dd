// LZX in the run: what the writer does with a frame over its largest size,
// call translation decided by each folder's planned size, and frames written
// again (alone or uncompressed) giving the same verified bytes on any number
// of threads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cab32/run/Archiver.h"
#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "cab32/format/CabWriter.h"
#include "cab32/codec/Lzx.h"
#include "tests/support/mem_files.h"
#include "tests/support/MemorySource.h"

using namespace cab32;

namespace {

const char* kCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";

// Near calls (E8 and a rel32 whose top byte is 0) among noise, as x86 code has.
std::string CallsAndNoise(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 16 == 0 ? 0xE8 : i % 16 == 4 ? 0 : (seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

CabError ArchiveFiles(MemFiles& fs, const std::vector<std::string>& contents, const ArchiveOptions& options)
{
    fs.files["C:\\Src\\respons.txt"].clear();
    for (size_t i = 0; i < contents.size(); ++i) {
        fs.files["C:\\Src\\f" + std::to_string(i)] = contents[i];
        fs.files["C:\\Src\\respons.txt"] += "f" + std::to_string(i) + "\n";
    }
    ArchiveReport report;
    return RunCommand(kCommand, fs, options, report);
}

// Whether each folder's LZX stream turns call translation on: the first bit
// of its first frame (a cabinet without reserve or set links).
std::vector<bool> FoldersTranslating(const std::string& cab)
{
    const auto u16 = [&cab](size_t at) {
        return static_cast<uint8_t>(cab[at]) | static_cast<uint8_t>(cab[at + 1]) << 8;
    };
    std::vector<bool> on;
    for (size_t i = 0; i < static_cast<size_t>(u16(26)); ++i) {
        const size_t data = static_cast<size_t>(u16(kHeaderSize + kFolderSize * i)) |
                            static_cast<size_t>(u16(kHeaderSize + kFolderSize * i + 2)) << 16;
        on.push_back((static_cast<uint8_t>(cab[data + kDataHeaderSize + 1]) & 0x80) != 0);
    }
    return on;
}

} // namespace

TEST(LzxRun, ABlockOverItsLargestSizeOutgrowsThePlan)
{
    for (const bool lzx : {false, true}) {
        SCOPED_TRACE(lzx ? "LZX" : "MSZIP");
        MemFiles fs;
        std::unique_ptr<ByteSink> sink;
        std::string temp;
        ASSERT_EQ(0u, fs.CreateTemp("C:\\Out\\b.cab", sink, temp));
        CabinetLayout layout;
        layout.folders = 1;
        layout.files = 1;
        layout.tableBytes = kFileFixedSize + 2;
        CabWriter writer(*sink, layout);
        ASSERT_FALSE(writer.BeginFolder(lzx ? LzxTypeCompress(17) : kTypeMszip));
        const size_t largest = lzx ? kLzxMaxFrameData : kMaxBlockData;
        const std::vector<uint8_t> payload(largest + 1, 0x55);
        EXPECT_EQ(CAB_E_CABINET_TOO_LARGE, writer.AddBlock(payload.data(), largest + 1, kBlockSize, 0).code);
        EXPECT_FALSE(writer.AddBlock(payload.data(), largest, kBlockSize, 0));
    }
}

TEST(LzxRun, CallTranslationOnlyInFoldersPlannedWithinTheLimit)
{
    const struct
    {
        std::vector<size_t> files;
        uint64_t cut; // where folders are cut
        std::vector<bool> translating;
    } cases[] = {
        {{60000, 30000}, 200000, {true}},              // one folder of 90,000 bytes
        {{60000, 40001}, 200000, {false}},             // 100,001 bytes
        {{100000}, 200000, {true}},                    // the limit itself
        {{150000, 10000}, 100000, {false, true}},      // a large file alone in its folder, then a small one
        {{50000, 50000, 90000}, 100000, {true, true}}, // 100,000 and 90,000
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.files.size()) + " files, the first " + std::to_string(c.files[0]));
        MemFiles fs;
        std::vector<std::string> contents;
        for (size_t n : c.files)
            contents.push_back(CallsAndNoise(n, static_cast<uint32_t>(n)));
        ArchiveOptions options;
        options.lzx.e8 = LzxOptions::E8::On;
        options.lzx.e8FolderLimit = 100000;
        options.lzxFolderBytes = c.cut;
        ASSERT_FALSE(ArchiveFiles(fs, contents, options));
        EXPECT_EQ(c.translating, FoldersTranslating(fs.files["C:\\Out\\b.cab"]));
    }
}

TEST(LzxRun, FramesWrittenAloneOrUncompressedGiveTheSameVerifiedBytesOnAnyThreads)
{
    std::vector<std::string> contents;
    for (uint32_t i = 0; i < 12; ++i)
        contents.push_back(i % 3 == 0 ? CallsAndNoise(70000 + i, i) : std::string(40000 + i * 999, 'a' + i));
    std::string first;
    for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        MemFiles fs;
        ArchiveOptions options;
        options.threads = threads;
        options.lzxFolderBytes = 150000;
        options.lzx.frameLimit = 12000;
        ASSERT_FALSE(ArchiveFiles(fs, contents, options));
        const std::string cab = fs.files["C:\\Out\\b.cab"];
        MemorySource src(cab);
        VerifiedCabinet v;
        EXPECT_FALSE(VerifyCabinet(src, v));
        EXPECT_LT(2u, v.folders.size());
        if (first.empty())
            first = cab;
        EXPECT_TRUE(cab == first);
    }
}
