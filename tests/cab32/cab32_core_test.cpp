// The archiver's run on an in-memory file system: what a cabinet holds,
// failures and cancels that leave everything as it was, names, targets and sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include <zlib.h>

#include "cab32/run/Archiver.h"
#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "cab32/format/CabWriter.h"
#include "cab32/run/CommandLine.h"
#include "cab32/codec/Lzx.h"
#include "tests/support/core_archive.h"
#include "tests/support/mem_files.h"
#include "tests/support/MemorySource.h"

using namespace cab32;

TEST(Archive, WritesAVerifiedCabinetWithEveryRecordInPlaceAndFilesAsListed)
{
    const struct
    {
        const char* switches;
        uint16_t typeCompress;
    } methods[] = {
        {"-mszip ", kTypeMszip},
        {"", LzxTypeCompress(18)},
        {"-mlzx ", LzxTypeCompress(18)},
        {"-mlzx21 ", LzxTypeCompress(21)},
    };
    for (const auto& m : methods) {
        SCOPED_TRACE(m.switches);
        MemFiles fs;
        const std::string a = Bytes(kBlockSize, 1), b = Bytes(kBlockSize + 1, 2), c(100000, 'z');
        fs.files["C:\\Src\\empty.txt"] = "";
        fs.files["C:\\Src\\a.bin"] = a;
        fs.files["C:\\Src\\sub\\b.bin"] = b;
        fs.files["C:\\Src\\ro.txt"] = c;
        fs.files["C:\\Src\\respons.txt"] = "\"empty.txt\"\r\n\r\n\"a.bin\"\r\nsub\\b.bin\n";
        fs.files["C:\\Src\\more.txt"] = "ro.txt";
        fs.files["C:\\Out\\b.cab"] = "old";
        // Grown once, after the listing (an LZX run then plans again and finds it as grown).
        fs.onOpen = [&](const std::string& p) {
            if (p == "C:\\Src\\ro.txt" && fs.files[p].size() == c.size())
                fs.files[p] += "grown since listed";
        };
        ArchiveReport report;
        ASSERT_FALSE(Archive(fs, m.switches + std::string(kProgramCommand) + " @more.txt", {}, &report));
        EXPECT_FALSE(fs.HasTemp());
        EXPECT_EQ(4u, report.files);
        const std::string cab = fs.files["C:\\Out\\b.cab"];
        EXPECT_EQ(report.cabinetBytes, cab.size());
        VerifiedCabinet v;
        ASSERT_FALSE(Verify(cab, v));
        ASSERT_EQ(1u, v.folders.size());
        // 165,555 bytes: ro.txt as it was when read, grown since the listing.
        const std::string grown = c + "grown since listed";
        EXPECT_EQ(6u, v.folders[0].blocks);
        EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>((a + b + grown).data()), 165555), v.folders[0].crc);

        // Header, the one folder record and the file table, byte for byte (little-endian fields).
        auto le = [](uint64_t v, int n) {
            std::string r;
            for (int i = 0; i < n; ++i)
                r += static_cast<char>(v >> (8 * i));
            return r;
        };
        auto file = [&](uint32_t size, uint32_t offset, int attribs, const std::string& name) {
            return le(size, 4) + le(offset, 4) + le(0, 2) + le(0x2A43, 2) + le(0x20A3, 2) + le(attribs, 2) + name +
                   '\0';
        };
        const std::string files = file(0, 0, 0x20, "empty.txt") + file(kBlockSize, 0, 0x20, "a.bin") +
                                  file(kBlockSize + 1, kBlockSize, 0x20, "sub\\b.bin") +
                                  file(100018, 2 * kBlockSize + 1, 0x21, "ro.txt");
        const std::string head = "MSCF" + le(0, 4) + le(cab.size(), 4) + le(0, 4) + le(44, 4) + le(0, 4) + "\x03\x01" +
                                 le(1, 2) + le(4, 2) + le(0, 6) + le(44 + files.size(), 4) + le(6, 2) +
                                 le(m.typeCompress, 2) + files;
        EXPECT_EQ(head, cab.substr(0, head.size()));
    }
}

// Swaps two words of the first block's data in each temporary cabinet as it
// is read back; the block's checksum misses that. An MSZIP block is not
// decoded on read-back (checksumsMiss: the verifier alone accepts it).
static void SwapWordsOnDisk(MemFiles& fs, bool checksumsMiss)
{
    fs.onOpen = [&fs, checksumsMiss](const std::string& p) {
        if (p.find(".tmp") == std::string::npos)
            return;
        std::string& cab = fs.files[p];
        const size_t data = static_cast<uint8_t>(cab[36]) + 256 * static_cast<uint8_t>(cab[37]) + kDataHeaderSize;
        std::swap_ranges(cab.begin() + data + 8, cab.begin() + data + 12, cab.begin() + data + 12);
        if (checksumsMiss) {
            VerifiedCabinet v;
            MemorySource src(cab);
            EXPECT_FALSE(VerifyCabinet(src, v, Decoding::LzxOnly));
        }
    };
}

TEST(Archive, EveryFailureAndCancelLeavesTheTargetsAndNoTemporaryFile)
{
    const char* set = "-v100000 ";
    const struct
    {
        const char* name;
        int code;
        std::function<void(MemFiles&)> setup;
        const char* prefix;
    } cases[] = {
        {"folder listed", CAB_E_SOURCE_IS_FOLDER,
         [](MemFiles& fs) {
             fs.folders.insert("C:\\Src\\sub\\");
             fs.files["C:\\Src\\respons.txt"] += "sub\n";
         },
         nullptr},
        {"unreadable file", CAB_E_SOURCE_READ, [](MemFiles& fs) { fs.unreadable.insert("C:\\Src\\f1"); }, nullptr},
        {"disk full", CAB_E_WRITE, [](MemFiles& fs) { fs.diskRoom = 2000; }, nullptr},
        {"rename refused", CAB_E_REPLACE, [](MemFiles& fs) { fs.refuseAsTarget.insert("C:\\Out\\b.cab"); }, nullptr},
        {"empty response", CAB_E_NO_FILES, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] = "\r\n\r\n"; },
         nullptr},
        {"no response", CAB_E_RESPONSE_OPEN, [](MemFiles& fs) { fs.files.erase("C:\\Src\\respons.txt"); }, nullptr},
        {"unreadable response", CAB_E_RESPONSE_READ, [](MemFiles& fs) { fs.unreadable.insert("C:\\Src\\respons.txt"); },
         nullptr},
        {"parent path", CAB_E_PARENT_PATH, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\"..\\x.txt\"\n"; },
         nullptr},
        {"endless line", CAB_E_NAME_TOO_LONG,
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += std::string(100000, 'n'); }, nullptr},
        {"file over the folder size", CAB_E_FILE_TOO_LARGE,
         [](MemFiles& fs) { fs.files["C:\\Src\\f1"] = Bytes(130001, 9); }, nullptr},
        {"file over the cabinet size", CAB_E_FILE_TOO_LARGE,
         [](MemFiles& fs) { fs.files["C:\\Src\\f1"] = Bytes(99900, 9); }, set},
        // As three stored MSZIP blocks 99,800 bytes fit; as three uncompressed LZX frames (44 bytes
        // over their input each, with their records) they do not.
        {"LZX: file over the cabinet at worst", CAB_E_FILE_TOO_LARGE,
         [](MemFiles& fs) { fs.files["C:\\Src\\f1"] = Bytes(99800, 9); }, set},
        {"set: second cabinet over the disk", CAB_E_WRITE, [](MemFiles& fs) { fs.diskRoom = 80000; }, set},
        {"MSZIP set: second cabinet over the disk", CAB_E_WRITE, [](MemFiles& fs) { fs.diskRoom = 80000; },
         "-v100000 -mszip "},
        {"set: last rename refused", CAB_E_REPLACE, [](MemFiles& fs) { fs.refuseAsTarget.insert("C:\\Out\\b_2.cab"); },
         set},
        {"set: first rename refused", CAB_E_REPLACE, [](MemFiles& fs) { fs.refuseAsTarget.insert("C:\\Out\\b.cab"); },
         set},
        {"no target folder", CAB_E_TEMP_CREATE, [](MemFiles& fs) { fs.folders.erase("C:\\Out\\"); }, nullptr},
        {"cancelled before it starts", CAB_E_CANCELLED, [](MemFiles& fs) { fs.control.cancel = true; }, nullptr},
        {"cancelled while writing", CAB_E_CANCELLED,
         [](MemFiles& fs) {
             fs.onOpen = [&fs](const std::string& p) { fs.control.cancel = fs.control.cancel || p == "C:\\Src\\f1"; };
         },
         nullptr},
        {"cancelled while verifying", CAB_E_CANCELLED,
         [](MemFiles& fs) {
             fs.onOpen = [&fs](const std::string& p) {
                 fs.control.cancel = fs.control.cancel || p.find(".tmp") != std::string::npos;
             };
         },
         nullptr},
        {"bad line", CAB_E_RESPONSE_SYNTAX,
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\r\n\"b.txt\" x\r\n"; }, nullptr},
        {"device name", CAB_E_DEVICE_NAME,
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\r\nsub\\AUX.txt\r\n"; }, nullptr},
        {"trailing dot", CAB_E_TRAILING_DOT, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\r\nf0.\r\n"; },
         nullptr},
        {"out of memory reading ahead", CAB_E_NO_MEMORY,
         [](MemFiles& fs) {
             fs.onOpen = [](const std::string& p) {
                 if (p == "C:\\Src\\f1")
                     throw std::bad_alloc();
             };
         },
         nullptr},
        {"MSZIP words swapped on the disk (block checksums unchanged)", CAB_E_VERIFY_FAILED,
         [](MemFiles& fs) { SwapWordsOnDisk(fs, true); }, "-mszip "},
        {"LZX words swapped on the disk (block checksums unchanged)", CAB_E_VERIFY_FAILED,
         [](MemFiles& fs) { SwapWordsOnDisk(fs, false); }, nullptr},
    };
    std::vector<RunPhase> cancelledIn;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemFiles fs;
        AddFiles(fs, {Bytes(50000, 1), Bytes(50000, 2)});
        fs.files["C:\\Out\\b.cab"] = "old 1";
        fs.files["C:\\Out\\b_2.cab"] = "old 2";
        c.setup(fs);
        ArchiveOptions options;
        options.folderLimit = 130000;
        options.control = &fs.control;
        CabError e = Archive(fs, std::string(c.prefix ? c.prefix : "") + kProgramCommand, options);
        EXPECT_EQ(c.code, e.code);
        EXPECT_EQ("old 1", fs.files["C:\\Out\\b.cab"]);
        EXPECT_EQ("old 2", fs.files["C:\\Out\\b_2.cab"]);
        EXPECT_FALSE(fs.HasTemp());
        const bool badLine =
            c.code == CAB_E_RESPONSE_SYNTAX || c.code == CAB_E_DEVICE_NAME || c.code == CAB_E_TRAILING_DOT;
        EXPECT_TRUE(!badLine || (e.line == 4 && e.responseFile == "C:\\Src\\respons.txt")) << e.line;
        if (c.code == CAB_E_CANCELLED)
            cancelledIn.push_back(fs.control.phase);
    }
    EXPECT_EQ((std::vector<RunPhase>{RunPhase::Listing, RunPhase::Writing, RunPhase::Verifying}), cancelledIn);
}

// The response files are read once: the names stored are the names listed,
// whatever happens to the file while the sources are read.
TEST(Archive, ReadsEachResponseFileOnceAndStoresWhatItListed)
{
    MemFiles fs;
    AddFiles(fs, {"zero", "one", "two"});
    int opened = 0;
    fs.onOpen = [&](const std::string& p) {
        if (p == "C:\\Src\\respons.txt")
            ++opened;
        if (p == "C:\\Src\\f0")
            fs.files["C:\\Src\\respons.txt"] = "f2\nf2\n";
    };
    ASSERT_FALSE(Archive(fs));
    EXPECT_EQ(1, opened);
    const std::string cab = fs.files["C:\\Out\\b.cab"];
    for (const char* name : {"f0", "f1", "f2"})
        EXPECT_NE(std::string::npos, cab.find(std::string(name) + '\0')) << name;
}

TEST(Archive, StoresTrueNamesAndRefusesOneNameListedTwice)
{
    const struct
    {
        const char* what;
        std::string listing;
        int code;
        uint32_t line;
        std::string table;
    } cases[] = {
        {"short names resolved", "CAFE~1.MD\r\n\x95\x5C.txt\r\nSUB~1\\X~1.TXT\r\n", CAB_OK, 0,
         "\xA0"
         "caf\xC3\xA9.md|\x20\x95\x5C.txt|\xA0\xED\x95\x9C\\x" +
             std::string(250, 'x') + "|"},
        {"case differs", "a.txt\r\nb.txt\r\nA.TXT\r\n", CAB_E_DUPLICATE_NAME, 3, ""},
        {"in a folder", "sub\\a.txt\r\nSUB\\a.txt\r\n", CAB_E_DUPLICATE_NAME, 2, ""},
        {"a short name and its long name", "a.txt\r\nCAFE~1.MD\r\nCAFE~2.MD\r\n", CAB_E_DUPLICATE_NAME, 3, ""},
        {"trail bytes that look like letters differ", "\x83\x61\r\n\x83\x41\r\n", CAB_OK, 0,
         "\x20\x83\x61|\x20\x83\x41|"},
        {"the same line twice", "a.txt\r\na.txt\r\n", CAB_E_DUPLICATE_NAME, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemFiles fs;
        for (const char* name : {"a.txt", "A.TXT", "b.txt", "CAFE~1.MD", "CAFE~2.MD", "\x95\x5C.txt", "SUB~1\\X~1.TXT",
                                 "sub\\a.txt", "SUB\\a.txt", "\x83\x61", "\x83\x41"})
            fs.files[std::string("C:\\Src\\") + name] = name;
        fs.longNames["CAFE~1.MD"] = {"caf\xC3\xA9.md", true};
        fs.longNames["CAFE~2.MD"] = {"CAF\xC3\xA9.md", true};
        fs.longNames["SUB~1\\X~1.TXT"] = {"\xED\x95\x9C\\x" + std::string(250, 'x'), true};
        fs.files["C:\\Src\\respons.txt"] = c.listing;
        CabError e = Archive(fs);
        EXPECT_EQ(c.code, e.code);
        EXPECT_EQ(c.line, e.line);
        EXPECT_EQ(c.line ? "C:\\Src\\respons.txt" : "", e.responseFile);
        if (c.code != CAB_OK)
            continue;
        // The CFFILE records: attributes, then the name.
        const std::string cab = fs.files["C:\\Out\\b.cab"];
        std::string table;
        size_t at = cab[16] & 0xFF;
        for (int i = 0; i < (cab[28] & 0xFF); ++i) {
            const size_t end = cab.find('\0', at + 16);
            table += cab[at + 14] + cab.substr(at + 16, end - at - 16) + "|";
            at = end + 1;
        }
        EXPECT_EQ(c.table, table);
    }
    MemFiles fs;
    fs.files["C:\\Src\\a.txt"] = "a";
    fs.longNames["a.txt"] = {std::string(256, 'n'), true};
    EXPECT_EQ(CAB_E_NAME_TOO_LONG, Archive(fs, "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" a.txt").code)
        << "a stored name past 255 bytes";
    fs.longNames.clear();
    fs.files["C:\\Src\\A.txt"] = "A";
    CabError e = Archive(fs, "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" a.txt A.txt");
    EXPECT_EQ(CAB_E_DUPLICATE_NAME, e.code) << "names on the command line";
    EXPECT_EQ("A.txt", e.file);
}

TEST(Archive, TargetsThatNameAFolderAreRefusedBeforeAnySourceIsRead)
{
    const struct
    {
        const char* command;
        const char* folder;
    } cases[] = {
        {"-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"", "C:\\Out\\b.cab\\"},
        {"-v100000 -a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"", "C:\\Out\\b_2.cab\\"},
        {"-a \"C:\\Out\\\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"", nullptr},
        {"-a \"C:\\Out/\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        MemFiles fs;
        AddFiles(fs, {Bytes(50000, 1), Bytes(50000, 2)});
        if (c.folder)
            fs.folders.insert(c.folder);
        std::vector<std::string> opened;
        fs.onOpen = [&](const std::string& p) {
            if (p.find("respons") == std::string::npos)
                opened.push_back(p);
        };
        EXPECT_EQ(CAB_E_TARGET_IS_FOLDER, Archive(fs, c.command).code);
        EXPECT_EQ(std::vector<std::string>(), opened);
    }
}

TEST(Archive, ASetIsLinkedByNameAndEveryStepOfPuttingItInPlaceIsReported)
{
    auto holds = [](MemFiles& fs, const std::string& p, const char* text) {
        return fs.files.count(p) && fs.files[p] == text;
    };
    const struct
    {
        const char* name;
        int code;
        std::function<void(MemFiles&)> setup;
    } cases[] = {
        {"replaced", CAB_OK, [](MemFiles&) {}},
        {"an old member cannot be put back", CAB_E_RESTORE,
         [&](MemFiles& fs) {
             fs.refuseAsTarget.insert("C:\\Out\\b_2.cab");
             fs.onReplace = [&](const std::string& from, const std::string&) {
                 return from.find(".tmp") != std::string::npos && holds(fs, from, "old 1") ? 17u : 0u;
             };
         }},
        {"an old member cannot be deleted", CAB_E_CLEANUP,
         [&](MemFiles& fs) { fs.onRemove = [&](const std::string& p) { return holds(fs, p, "old 1") ? 32u : 0u; }; }},
    };
    for (const char* method : {"-mszip ", ""})
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name + std::string(" ") + method);
            MemFiles fs;
            AddFiles(fs, {Bytes(50000, 1), Bytes(50000, 2)});
            fs.files["C:\\Out\\b.cab"] = "old 1";
            fs.files["C:\\Out\\b_2.cab"] = "old 2";
            c.setup(fs);
            CabError e = Archive(fs, std::string("-v100000 ") + method + kProgramCommand);
            EXPECT_EQ(c.code, e.code);
            // The error names the temporary file that still holds the old member.
            if (c.code != CAB_OK) {
                EXPECT_TRUE(e.file.find(".tmp") != std::string::npos && holds(fs, e.file, "old 1")) << e.file;
            }
            if (c.code == CAB_E_RESTORE) {
                EXPECT_EQ("old 2", fs.files["C:\\Out\\b_2.cab"]);
                EXPECT_FALSE(fs.files.count("C:\\Out\\b.cab"));
                continue;
            }
            VerifiedCabinet first, second;
            ASSERT_FALSE(Verify(fs.files["C:\\Out\\b.cab"], first));
            ASSERT_FALSE(Verify(fs.files["C:\\Out\\b_2.cab"], second));
            EXPECT_EQ(*method ? kTypeMszip : LzxTypeCompress(16), CabFolderType(fs.files["C:\\Out\\b_2.cab"]));
            EXPECT_EQ("b_2.cab|b_2.cab||",
                      first.nextName + "|" + first.nextDisk + "|" + first.prevName + "|" + first.prevDisk);
            EXPECT_EQ("|b.cab|b.cab", second.nextName + "|" + second.prevName + "|" + second.prevDisk);
        }
}
