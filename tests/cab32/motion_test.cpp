// Files that change, grow, shrink or vanish between the listing and their
// read, or while they are read: every file the cabinet holds is one version
// that existed whole, and the run names every file it could not store so.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "cab32/run/Archiver.h"
#include "cab32/Cab32.h"
#include "cab32/format/CabVerifier.h"
#include "tests/support/cab_reader.h"
#include "tests/support/mem_files.h"
#include "tests/support/MemorySource.h"

using namespace cab32;

namespace {

const char* kCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";

std::string Noise(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

std::string Src(const std::string& name)
{
    return "C:\\Src\\" + name;
}

// The files of the set's cabinets (b.cab, b_2.cab, ...) read back; "<unreadable>" when one cannot be.
std::map<std::string, std::string> Extracted(MemFiles& fs)
{
    std::map<std::string, std::string> out;
    for (int i = 1; i < 10; ++i) {
        const std::string path = i == 1 ? "C:\\Out\\b.cab" : "C:\\Out\\b_" + std::to_string(i) + ".cab";
        if (!fs.files.count(path))
            break;
        VerifiedCabinet v;
        MemorySource src(fs.files[path]);
        if (VerifyCabinet(src, v) || !ExtractCabinet(fs.files[path], out))
            out["<unreadable>"] = path;
    }
    return out;
}

// Changes path once, as it is first opened.
std::function<void(const std::string&)> AtOpen(MemFiles& fs, const std::string& path, const std::string& data)
{
    auto done = std::make_shared<bool>(false);
    return [&fs, path, data, done](const std::string& p) {
        if (p == path && !*done) {
            *done = true;
            fs.Change(p, data);
        }
    };
}

// Runs change the first time when holds (then never again).
std::function<void(const std::string&, uint64_t)> Once(std::function<bool(const std::string&, uint64_t)> when,
                                                       std::function<void()> change)
{
    auto done = std::make_shared<bool>(false);
    return [=](const std::string& p, uint64_t at) {
        if (!*done && when(p, at)) {
            *done = true;
            change();
        }
    };
}

} // namespace

TEST(FilesInMotion, EachStoredFileIsOneWholeVersionAndTheOthersAreNamed)
{
    const std::string small = Noise(50000, 1), large = Noise(600000, 2), tiny = Noise(3000, 3);
    struct Case
    {
        const char* what;
        std::function<void(MemFiles&)> setup;
        int code;
        std::map<std::string, std::string> stored; // file -> content; a file not named here is stored as listed
        std::vector<std::string> leftOut;          // "name:reason" (v vanished, c changed)
        int passes;                                // writing passes
        const char* prefix = "";                   // before the command
        bool resized = false; // a file is stored at another size than listed: an LZX run plans again
    } cases[] = {
        {"nothing moves", [](MemFiles&) {}, CAB_OK, {}, {}, 1},
        {"atomic save between the listing and the read",
         [](MemFiles& fs) { fs.onOpen = AtOpen(fs, Src("f0"), std::string(75000, 'B')); },
         CAB_OK,
         {{"f0", std::string(75000, 'B')}},
         {},
         1,
         "",
         true},
        {"small file rewritten part way through its read",
         [](MemFiles& fs) {
             fs.onRead = Once([](const std::string& p, uint64_t at) { return p == Src("f0") && at >= 16384; },
                              [&fs] { fs.Change(Src("f0"), std::string(50000, 'B')); });
         },
         CAB_OK,
         {{"f0", std::string(50000, 'B')}},
         {},
         1},
        {"small file that never holds still",
         [](MemFiles& fs) {
             auto n = std::make_shared<uint32_t>(0);
             fs.onRead = [&fs, n](const std::string& p, uint64_t at) {
                 if (p == Src("f0") && at >= 8192)
                     fs.Change(p, Noise(50000 + (*n)++, 7));
             };
         },
         CAB_E_FILES_LEFT_OUT,
         {{"f0", "<absent>"}},
         {"f0:c"},
         2},
        {"large file rewritten with the same size part way",
         [&](MemFiles& fs) {
             fs.onRead = Once([](const std::string& p, uint64_t at) { return p == Src("f1") && at >= 100000; },
                              [&fs] { fs.Change(Src("f1"), Noise(600000, 9)); });
         },
         CAB_E_FILES_LEFT_OUT,
         {{"f1", "<absent>"}},
         {"f1:c"},
         2},
        {"large file truncated and written again part way",
         [&](MemFiles& fs) {
             fs.onRead = Once([](const std::string& p, uint64_t at) { return p == Src("f1") && at >= 100000; },
                              [&fs] { fs.Change(Src("f1"), Noise(300000, 9)); });
         },
         CAB_E_FILES_LEFT_OUT,
         {{"f1", "<absent>"}},
         {"f1:c"},
         2},
        {"large file appended to part way",
         [&](MemFiles& fs) {
             fs.onRead = Once([](const std::string& p, uint64_t at) { return p == Src("f1") && at >= 100000; },
                              [&fs, large] { fs.Change(Src("f1"), large + "tail"); });
         },
         CAB_E_FILES_LEFT_OUT,
         {{"f1", "<absent>"}},
         {"f1:c"},
         2},
        {"large file replaced before its read, then still",
         [](MemFiles& fs) { fs.onOpen = AtOpen(fs, Src("f1"), Noise(700000, 5)); },
         CAB_OK,
         {{"f1", Noise(700000, 5)}},
         {},
         1,
         "",
         true},
        {"deleted between the listing and the read",
         [](MemFiles& fs) {
             fs.onOpen = [&fs](const std::string& p) {
                 if (p == Src("f2"))
                     fs.files.erase(p);
             };
         },
         CAB_E_FILES_LEFT_OUT,
         {{"f2", "<absent>"}},
         {"f2:v"},
         2},
        {"gone before the listing",
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "gone\r\n"; },
         CAB_E_FILES_LEFT_OUT,
         {{"gone", "<absent>"}},
         {"gone:v"},
         1},
        {"listed empty, then written",
         [](MemFiles& fs) {
             fs.onOpen = [&fs](const std::string& p) {
                 if (p == Src("f3") && fs.files[p].empty())
                     fs.Change(p, "now filled");
             };
         },
         CAB_OK,
         {{"f3", "now filled"}},
         {},
         1,
         "",
         true},
        {"small file grown past what is read whole",
         [](MemFiles& fs) { fs.onOpen = AtOpen(fs, Src("f2"), Noise(400000, 4)); },
         CAB_OK,
         {{"f2", Noise(400000, 4)}},
         {},
         2},
        // f0 and f1 fill most of a cabinet of 800,000 bytes at worst; f0 grown past its room (with either
        // method's worst blocks) is written again.
        {"set: a grown file that no longer fits its cabinet",
         [](MemFiles& fs) { fs.onOpen = AtOpen(fs, Src("f0"), Noise(250000, 6)); },
         CAB_OK,
         {{"f0", Noise(250000, 6)}},
         {},
         2,
         "-v800000 "},
        {"set: a grown file that fits its cabinet still",
         [](MemFiles& fs) { fs.onOpen = AtOpen(fs, Src("f0"), Noise(52000, 6)); },
         CAB_OK,
         {{"f0", Noise(52000, 6)}},
         {},
         1,
         "-v800000 ",
         true},
    };
    for (const char* method : {"-mszip ", ""})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (*method ? " (MSZIP)" : " (LZX)"));
            const int passes = c.passes + (c.resized && !*method ? 1 : 0);
            MemFiles fs;
            fs.files["C:\\Src\\respons.txt"] = "f0\r\nf1\r\nf2\r\nf3\r\n";
            fs.files[Src("f0")] = small;
            fs.files[Src("f1")] = large;
            fs.files[Src("f2")] = tiny;
            fs.files[Src("f3")] = "";
            fs.files["C:\\Out\\b.cab"] = "old";
            c.setup(fs);
            std::map<std::string, int> opens;
            auto chained = fs.onOpen;
            fs.onOpen = [&](const std::string& p) {
                ++opens[p];
                if (chained)
                    chained(p);
            };
            ArchiveOptions options;
            options.pause = [](unsigned) {};
            ArchiveReport report;
            CabError e = RunCommand(method + (c.prefix + std::string(kCommand)), fs, options, report);
            EXPECT_EQ(c.code, e.code) << e.file;
            std::vector<std::string> leftOut;
            for (const LeftOutFile& f : report.leftOut)
                leftOut.push_back(f.path.substr(7) + (f.reason == LeftOutReason::Vanished ? ":v" : ":c"));
            EXPECT_EQ(c.leftOut, leftOut);
            EXPECT_EQ(passes, int(report.passes));
            std::map<std::string, std::string> expected = {{"f0", small}, {"f1", large}, {"f2", tiny}, {"f3", ""}};
            for (const auto& s : c.stored)
                if (s.second == "<absent>")
                    expected.erase(s.first);
                else
                    expected[s.first] = s.second;
            std::map<std::string, std::string> got = Extracted(fs);
            EXPECT_EQ(expected.size(), got.size());
            for (const auto& f : expected)
                EXPECT_TRUE(got.count(f.first) && got[f.first] == f.second) << f.first << " stored as another version";
            EXPECT_FALSE(fs.HasTemp());
            // Each file is opened once a pass: a file in motion alone is read again.
            EXPECT_EQ(passes, opens[Src("f3")]) << "f3 opened";
        }
}

// The program leaves out files over kCab32LargestFile: one of that size must
// be planned (the run then reads it; here it is cancelled at its open), with
// the longest names a cabinet and its set links can have; a larger one fails.
TEST(Limits, TheLargestFileACallerMayListIsPlannedWithTheLongestNames)
{
    struct Sized : MemFiles
    {
        uint64_t huge = 0;
        uint32_t Stat(const std::string& path, SourceInfo& info) override
        {
            uint32_t err = MemFiles::Stat(path, info);
            if (err == 0 && path.find("huge") != std::string::npos)
                info.size = huge;
            return err;
        }
    };
    const std::string name = std::string(kCab32LongestName - 4, 'h') + "huge";
    // The set's last member name, "<cabinet>_100000.cab" at most, takes 255 bytes.
    const std::string cabinet = "C:\\Out\\" + std::string(kCab32LongestName - 11, 'c') + ".cab";
    for (uint64_t size : {uint64_t(kCab32LargestFile), uint64_t(kCab32LargestFile) + 2000000})
        for (const char* method : {"", "-mszip "}) {
            SCOPED_TRACE(std::to_string(size) + " " + method);
            Sized fs;
            fs.huge = size;
            fs.files[Src(name)] = "";
            fs.files["C:\\Src\\respons.txt"] = name + "\r\n";
            fs.onOpen = [&fs](const std::string& p) {
                fs.control.cancel = fs.control.cancel || p.find("huge") != std::string::npos;
            };
            ArchiveOptions options;
            options.control = &fs.control;
            ArchiveReport report;
            CabError e = RunCommand(method + ("-a \"" + cabinet + "\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\""), fs,
                                    options, report);
            const bool fits = size == kCab32LargestFile || *method != '\0';
            EXPECT_EQ(fits ? CAB_E_CANCELLED : CAB_E_FILE_TOO_LARGE, e.code);
        }
}
