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
#include "tests/support/mem_files.h"
#include "tests/support/MemorySource.h"

using namespace cab32;

namespace {

std::string Bytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

const char* kProgramCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";

CabError Archive(MemFiles& fs, const std::string& command = kProgramCommand, ArchiveOptions options = {},
                 ArchiveReport* report = nullptr)
{
    ArchiveReport unused;
    if (!options.pause)
        options.pause = [](unsigned) {}; // a moment's lock is tried again without waiting
    return RunCommand(command, fs, options, report ? *report : unused);
}

// Lists files f0, f1... with the given contents in the response file.
void AddFiles(MemFiles& fs, const std::vector<std::string>& contents)
{
    fs.files["C:\\Src\\respons.txt"].clear();
    for (size_t i = 0; i < contents.size(); ++i) {
        fs.files["C:\\Src\\f" + std::to_string(i)] = contents[i];
        fs.files["C:\\Src\\respons.txt"] += "f" + std::to_string(i) + "\n";
    }
}

// The typeCompress of a cabinet's first folder.
uint16_t CabFolderType(const std::string& cab)
{
    size_t at = 36;
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet})
        for (int text = 0; (static_cast<uint8_t>(cab[30]) & flag) && text < 2; ++text)
            at = cab.find('\0', at) + 1;
    return static_cast<uint16_t>(static_cast<uint8_t>(cab[at + 6]) | static_cast<uint8_t>(cab[at + 7]) << 8);
}

CabError Verify(const std::string& cabinet, VerifiedCabinet& v)
{
    MemorySource src(cabinet);
    return VerifyCabinet(src, v);
}

} // namespace

TEST(CommandLine, ParsesQuotedArgumentsAndGivesMalformedLinesTheirCodes)
{
    const struct
    {
        const char* line;
        int code;
        const char* parsed;
    } cases[] = {
        // cabinet|base|inputs...|-v size|method/window
        {kProgramCommand, CAB_OK, "C:\\Out\\b.cab|C:\\Src\\|@C:\\Src\\respons.txt|0"},
        {"-a \"C:\\x\\\" \"C:\\x\\\" a.txt \"b c.txt\" @r.txt \"-d.txt\"", CAB_OK,
         "C:\\x\\|C:\\x\\|a.txt|b c.txt|@r.txt|-d.txt|0"},
        {"-v1000000 -a x.cab C:\\Src", CAB_OK, "x.cab|C:\\Src\\|1000000"},
        {"-a x.cab \"C:\\\x83\x5C\"", CAB_OK, "x.cab|C:\\\x83\x5C\\|0"}, // "ソ": trail byte 0x5C is no backslash
        {"   \t ", CAB_E_NO_COMMAND, ""},
        {"\"-a\" \"x.cab\" \"C:\\\" a.txt", CAB_E_NO_COMMAND, ""},
        {"-a \"\" \"C:\\\" a.txt", CAB_E_NO_CABINET_NAME, ""},
        {"-a x.cab \"\" a.txt", CAB_E_NO_BASE_FOLDER, ""},
        {"-a x.cab \"C:\\x\\\" \"@r.txt", CAB_E_UNTERMINATED_QUOTE, ""},
        {"-a -r x.cab C:\\ a.txt", CAB_E_UNKNOWN_SWITCH, ""},
        {"-a x.cab C:\\ a.txt /s", CAB_E_UNKNOWN_SWITCH, ""},
        {"-v100 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-v2147483648 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-a x.cab -mszip C:\\", CAB_OK, "x.cab|C:\\|0|1/0"},
        {"-mlzx -a x.cab C:\\ -v70000", CAB_OK, "x.cab|C:\\|70000|2/0"},
        {"-a x.cab C:\\ a.txt -mlzx15", CAB_OK, "x.cab|C:\\|a.txt|0|2/15"},
        {"-MLZX21 -a x.cab C:\\", CAB_OK, "x.cab|C:\\|0|2/21"},
        {"/mLzX18 -mszip -a x.cab C:\\", CAB_OK, "x.cab|C:\\|0|1/0"},    // the last one counts
        {"-a x.cab C:\\ \"-mszip\"", CAB_OK, "x.cab|C:\\|-mszip|0|0/0"}, // quoted: a name
        {"-mlzx14 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx22 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx2 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx021 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx1a -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mzip -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mszip2 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-m -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mnone -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
    };
    for (const auto& c : cases) {
        CommandLine p;
        EXPECT_EQ(c.code, ParseCommandLine(c.line, p, IsLeadByte932).code) << c.line;
        if (c.code != CAB_OK)
            continue;
        std::string parsed = p.cabinet + "|" + p.baseFolder + "|";
        for (const std::string& input : p.inputs)
            parsed += input + "|";
        const std::string method = std::to_string(static_cast<int>(p.method)) + "/" + std::to_string(p.lzxWindowBits);
        if (std::string(c.parsed).find('/') == std::string::npos)
            EXPECT_EQ(c.parsed, parsed + std::to_string(p.cabinetLimit)) << c.line;
        else
            EXPECT_EQ(c.parsed, parsed + std::to_string(p.cabinetLimit) + "|" + method) << c.line;
    }
}

TEST(ResponseFile, LinesAreQuotedOrBareAndOnlyRelativeNamesInsideTheTreeAreStored)
{
    const std::string longName(255, 'n');
    const struct
    {
        std::string line;
        int code;
        const char* name;
    } cases[] = {
        // name as stored, null for a blank line
        {"  \"sub/a b.txt\"\t", CAB_OK, "sub\\a b.txt"},
        {"  bare with blanks.txt  ", CAB_OK, "bare with blanks.txt"},
        {" \t ", CAB_OK, nullptr},
        {"..a\\b..c\\c.txt", CAB_OK, "..a\\b..c\\c.txt"},
        {"\x83\x5C\x95\x5C.txt", CAB_OK, "\x83\x5C\x95\x5C.txt"},     // ソ表.txt: trail bytes 0x5C
        {"\x94\x5C\\\x97\x7C.txt", CAB_OK, "\x94\x5C\\\x97\x7C.txt"}, // trail byte 0x7C is no '|'
        {"\"a.txt\" b", CAB_E_RESPONSE_SYNTAX, nullptr},
        {"\"a.txt", CAB_E_RESPONSE_SYNTAX, nullptr},
        {std::string("a\0b", 3), CAB_E_RESPONSE_SYNTAX, nullptr},
        {"\"\"", CAB_E_EMPTY_NAME, nullptr},
        {"a\\\\b.txt", CAB_E_EMPTY_NAME, nullptr},
        {"C:\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"a:b.txt", CAB_E_ABSOLUTE_PATH, nullptr}, // drive A, relative
        {"\\\\server\\share\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"/etc/passwd", CAB_E_ABSOLUTE_PATH, nullptr},
        {"sub/../a.txt", CAB_E_PARENT_PATH, nullptr},
        {".\\a.txt", CAB_E_PARENT_PATH, nullptr},
        {"sub\\..", CAB_E_PARENT_PATH, nullptr},
        {"ab:c.txt", CAB_E_BAD_NAME, nullptr},
        {"a\tb.txt", CAB_E_BAD_NAME, nullptr},
        {"abc\x83", CAB_E_BAD_NAME, nullptr},       // lead byte without its trail
        {"a\x83\x1F.txt", CAB_E_BAD_NAME, nullptr}, // trail byte out of range
        {"a.txt:zone", CAB_E_BAD_NAME, nullptr},    // an alternate data stream
        {"a.txt.", CAB_E_TRAILING_DOT, nullptr},
        {"\"a.txt \"", CAB_E_TRAILING_DOT, nullptr},
        {"sub.\\a.txt", CAB_E_TRAILING_DOT, nullptr},
        {"\"sub \\a.txt\"", CAB_E_TRAILING_DOT, nullptr},
        {"CON", CAB_E_DEVICE_NAME, nullptr},
        {"nul.txt", CAB_E_DEVICE_NAME, nullptr},
        {"sub\\Aux", CAB_E_DEVICE_NAME, nullptr},
        {"prn\\a.txt", CAB_E_DEVICE_NAME, nullptr},
        {"com1.tar.gz", CAB_E_DEVICE_NAME, nullptr},
        {"LPT9", CAB_E_DEVICE_NAME, nullptr},
        {"\"con .txt\"", CAB_E_DEVICE_NAME, nullptr},
        {"COM10", CAB_OK, "COM10"},
        {"lpt0.c", CAB_OK, "lpt0.c"},
        {"console.h", CAB_OK, "console.h"},
        {"sub\\nul_.c", CAB_OK, "sub\\nul_.c"},
        {"a.b.c", CAB_OK, "a.b.c"},
        {longName, CAB_OK, longName.c_str()},
        {std::string(256, 'n'), CAB_E_NAME_TOO_LONG, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string name;
        bool blank = false;
        CabError e = ParseResponseLine(c.line, name, blank);
        if (!e && !blank)
            e = ValidateName(name, IsLeadByte932);
        EXPECT_EQ(c.code, e.code);
        EXPECT_EQ(c.name ? std::string(c.name) : name, name);
        EXPECT_EQ(c.code == CAB_OK && c.name == nullptr, blank);
    }
}

// The same tables for every method; only the folder's typeCompress differs.
// No switch gives LZX with the window that fits the folder.
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

TEST(Writer, ACabinetIsNeverWrittenPastItsLimit)
{
    std::string out;
    struct : ByteSink
    {
        std::string* data;
        uint32_t WriteAt(uint64_t offset, const void* p, size_t len) override
        {
            data->resize(std::max<size_t>(data->size(), offset + len));
            std::memcpy(&(*data)[offset], p, len);
            return 0;
        }
        uint32_t Flush() override { return 0; }
    } sink;
    sink.data = &out;
    CabinetLayout layout;
    layout.folders = 1;
    layout.files = 1;
    layout.tableBytes = kFileFixedSize + 2;
    layout.limit = 65620; // two full blocks and the tables take 65,614 bytes
    CabWriter writer(sink, layout);
    ASSERT_FALSE(writer.BeginFolder());
    const std::string block(kBlockSize, 'x');
    const uint8_t* p = reinterpret_cast<const uint8_t*>(block.data());
    EXPECT_FALSE(writer.AddBlock(p, kBlockSize, kBlockSize, DataChecksum(p, kBlockSize, kBlockSize)));
    EXPECT_FALSE(writer.AddBlock(p, kBlockSize, kBlockSize, DataChecksum(p, kBlockSize, kBlockSize)));
    EXPECT_EQ(CAB_E_CABINET_TOO_LARGE, writer.AddBlock(p, 10, 10, DataChecksum(p, 10, 10)).code);
}

TEST(Verifier, DamagedCabinetsAreRejected)
{
    MemFiles fs;
    AddFiles(fs, {std::string(40000, 'a') + Bytes(30000, 3), "bbb"});
    ASSERT_FALSE(Archive(fs));
    const std::string good = fs.files["C:\\Out\\b.cab"];
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(good, v));
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(CAB_E_VERIFY_FAILED, Verify(good.substr(0, n), v).code) << n;

    // Every byte counts but the set ID and the file table (bytes 44 to 82: two records, names "f0" and "f1").
    for (size_t i = 0; i < good.size(); ++i) {
        if ((i >= 32 && i < 34) || (i >= 44 && i < 82))
            continue;
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x10);
        EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code) << "byte " << i;
    }
    // The last file claiming more than its folder holds.
    std::string bad = good;
    const size_t last = 44 + kFileFixedSize + sizeof("f0");
    bad[last] = static_cast<char>(bad[last] + 1);
    EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code);
}

namespace {

struct StringSink : ByteSink
{
    uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
    {
        bytes.resize(std::max<size_t>(bytes.size(), offset + len));
        std::memcpy(&bytes[offset], data, len);
        return 0;
    }
    uint32_t Flush() override { return 0; }
    std::string bytes;
};

// A one-file cabinet whose only folder is LZX, written by CabWriter.
std::string LzxCabinet(const std::string& content, int windowBits)
{
    LzxEncoder encoder(windowBits, content.size());
    encoder.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    encoder.Finish();
    StringSink sink;
    CabinetLayout layout;
    layout.folders = 1;
    layout.files = 1;
    layout.tableBytes = kFileFixedSize + sizeof("f0");
    CabWriter writer(sink, layout);
    EXPECT_FALSE(writer.BeginFolder(LzxTypeCompress(windowBits)));
    LzxFrame frame;
    while (encoder.TakeFrame(frame)) {
        const uint16_t cbData = static_cast<uint16_t>(frame.data.size());
        const uint16_t cbUncomp = static_cast<uint16_t>(frame.uncompressed);
        EXPECT_FALSE(
            writer.AddBlock(frame.data.data(), cbData, cbUncomp, DataChecksum(frame.data.data(), cbData, cbUncomp)));
    }
    CabFile rec;
    rec.cbFile = static_cast<uint32_t>(content.size());
    EXPECT_FALSE(writer.AddFile(rec, "f0"));
    EXPECT_FALSE(writer.Finish());
    return sink.bytes;
}

} // namespace

TEST(Verifier, LzxFoldersAreWrittenWithTheirWindowAndDecodedOnReadBack)
{
    const std::string content = Bytes(50000, 5) + std::string(70000, 'x') + Bytes(3000, 6);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    for (int bits : {15, 17, 21}) {
        const std::string cab = LzxCabinet(content, bits);
        CabFolder folder;
        DecodeFolder(reinterpret_cast<const uint8_t*>(cab.data()) + kHeaderSize, folder);
        EXPECT_EQ(LzxTypeCompress(bits), folder.typeCompress);
        VerifiedCabinet v;
        ASSERT_FALSE(Verify(cab, v)) << bits;
        ASSERT_EQ(1u, v.folders.size());
        EXPECT_EQ(content.size(), v.folders[0].bytes);
        EXPECT_EQ(crc, v.folders[0].crc);
    }
    // A changed payload byte under a recomputed checksum: the decoder rejects
    // it, or the content it gives differs.
    const std::string good = LzxCabinet(content, 17);
    const size_t data = kHeaderSize + kFolderSize + kFileFixedSize + sizeof("f0");
    const size_t cbData = static_cast<uint8_t>(good[data + 4]) | static_cast<uint8_t>(good[data + 5]) << 8;
    for (size_t at : {size_t(0), size_t(1), cbData / 2, cbData - 1}) {
        std::string bad = good;
        bad[data + kDataHeaderSize + at] = static_cast<char>(bad[data + kDataHeaderSize + at] ^ 0x21);
        const uint8_t* payload = reinterpret_cast<const uint8_t*>(bad.data()) + data + kDataHeaderSize;
        const uint32_t csum = DataChecksum(payload, static_cast<uint16_t>(cbData), kBlockSize);
        for (int i = 0; i < 4; ++i)
            bad[data + i] = static_cast<char>(csum >> (8 * i));
        VerifiedCabinet v;
        const bool rejected = Verify(bad, v).code == CAB_E_VERIFY_FAILED;
        EXPECT_TRUE(rejected || v.folders[0].crc != crc) << at;
    }
}
