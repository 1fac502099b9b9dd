#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include <zlib.h>

#include "cab32/Archiver.h"
#include "cab32/CabFormat.h"
#include "cab32/CabVerifier.h"
#include "cab32/CommandLine.h"
#include "cab32/Mszip.h"

using namespace cab32;

namespace {

// An in-memory file system with the faults the archiver must survive. The
// archiver reads ahead on a thread of its own, so every call takes the lock.
class MemFiles : public FileOpener
{
public:
    std::recursive_mutex lock;
    std::map<std::string, std::string> files;
    std::set<std::string> folders = {"C:\\Src\\", "C:\\Out\\"};
    std::map<std::string, std::string> changeOnOpen; // content a file has by the time it is opened
    std::set<std::string> unreadable;                // open works, reading fails
    size_t diskRoom = SIZE_MAX;                      // bytes all sinks together may write
    bool failReplace = false;
    std::set<std::string> refuseAsTarget;            // the next Replace onto each of these fails
    std::function<void(const std::string&)> onOpen;  // called with every path opened for reading
    int temps = 0;

    uint32_t Stat(const std::string& path, SourceInfo& info) override
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        if (folders.count(path + "\\"))
        {
            info = SourceInfo();
            info.isFolder = true;
            return 0;
        }
        auto it = files.find(path);
        if (it == files.end())
            return 2;
        info = SourceInfo();
        info.size = it->second.size();
        info.dosDate = 0x2A43; // 2001-02-03
        info.dosTime = 0x20A3; // 04:05:06
        info.attribs = path.find("ro") != std::string::npos ? kAttrReadOnly | kAttrArchive : kAttrArchive;
        return 0;
    }

    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        if (onOpen)
            onOpen(path);
        auto change = changeOnOpen.find(path);
        if (change != changeOnOpen.end())
            files[path] = change->second;
        if (uint32_t err = Stat(path, info))
            return err;
        file.reset(new Source(info.isFolder ? std::string() : files[path], unreadable.count(path) != 0));
        return 0;
    }

    uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) override
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        std::string folder = FolderOf(target, IsLeadByte932);
        if (!folders.count(folder))
            return 3;
        tempPath = folder + "cab" + std::to_string(++temps) + ".tmp";
        files[tempPath];
        file.reset(new Sink(*this, tempPath));
        return 0;
    }

    uint32_t Replace(const std::string& tempPath, const std::string& target) override
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        if (failReplace || refuseAsTarget.erase(target))
            return 5;
        if (!files.count(tempPath))
            return 2;
        files[target] = files[tempPath];
        files.erase(tempPath);
        return 0;
    }

    void Remove(const std::string& path) override
    {
        std::lock_guard<std::recursive_mutex> guard(lock);
        files.erase(path);
    }

    bool HasTemp() const
    {
        for (const auto& f : files)
            if (f.first.size() > 4 && f.first.compare(f.first.size() - 4, 4, ".tmp") == 0)
                return true;
        return false;
    }

private:
    class Source : public ByteSource
    {
    public:
        Source(std::string data, bool failing) : m_data(std::move(data)), m_failing(failing) {}
        uint32_t Read(void* buffer, size_t len, size_t& got) override
        {
            if (m_failing)
                return 23;
            got = m_pos < m_data.size() ? std::min(len, m_data.size() - m_pos) : 0;
            std::memcpy(buffer, m_data.data() + m_pos, got);
            m_pos += got;
            return 0;
        }
        uint32_t Seek(uint64_t offset) override
        {
            m_pos = static_cast<size_t>(offset);
            return 0;
        }
        uint32_t Size(uint64_t& size) override
        {
            size = m_data.size();
            return 0;
        }

    private:
        std::string m_data;
        bool m_failing;
        size_t m_pos = 0;
    };

    class Sink : public ByteSink
    {
    public:
        Sink(MemFiles& owner, std::string path) : m_owner(owner), m_path(std::move(path)) {}
        uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
        {
            std::lock_guard<std::recursive_mutex> guard(m_owner.lock);
            if (len > m_owner.diskRoom)
                return 112;
            m_owner.diskRoom -= len;
            std::string& f = m_owner.files[m_path];
            if (f.size() < offset + len)
                f.resize(offset + len);
            std::memcpy(&f[offset], data, len);
            return 0;
        }
        uint32_t Flush() override { return 0; }

    private:
        MemFiles& m_owner;
        std::string m_path;
    };
};

std::string Bytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
    {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

uint32_t Crc(const std::string& s)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

CabError Archive(MemFiles& fs, const std::string& command, ArchiveReport* out = nullptr,
             ArchiveOptions options = ArchiveOptions())
{
    ArchiveReport report;
    CabError e = RunCommand(command, fs, options, report);
    if (out)
        *out = report;
    return e;
}

CabError Verify(const std::string& cabinet, VerifiedCabinet& v)
{
    MemFiles fs;
    fs.files["x"] = cabinet;
    std::unique_ptr<ByteSource> src;
    SourceInfo info;
    fs.OpenRead("x", src, info);
    return VerifyCabinet(*src, v);
}

const char* kProgramCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";

} // namespace

TEST(CommandLine, ParsesTheProgramsCommandWithPlainBackslashes)
{
    CommandLine c;
    ASSERT_FALSE(ParseCommandLine(kProgramCommand, c, IsLeadByte932));
    EXPECT_EQ("C:\\Out\\b.cab", c.cabinet);
    EXPECT_EQ("C:\\Src\\", c.baseFolder);
    ASSERT_EQ(1u, c.inputs.size());
    EXPECT_EQ("@C:\\Src\\respons.txt", c.inputs[0]);

    ASSERT_FALSE(ParseCommandLine("-a \"C:\\x\\\" \"C:\\x\\\" a.txt \"b c.txt\" @r.txt \"-d.txt\"", c, IsLeadByte932));
    EXPECT_EQ("C:\\x\\", c.cabinet);
    EXPECT_EQ("C:\\x\\", c.baseFolder);
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b c.txt", "@r.txt", "-d.txt"}), c.inputs);
}

TEST(CommandLine, BaseFolderGetsOneBackslashJudgedByWholeCharacters)
{
    CommandLine c;
    ASSERT_FALSE(ParseCommandLine("-a x.cab C:\\Src", c, IsLeadByte932));
    EXPECT_EQ("C:\\Src\\", c.baseFolder);
    // "ソ" is 0x83 0x5C: its trail byte is no backslash.
    ASSERT_FALSE(ParseCommandLine("-a x.cab \"C:\\\x83\x5C\"", c, IsLeadByte932));
    EXPECT_EQ("C:\\\x83\x5C\\", c.baseFolder);
}

TEST(CommandLine, MalformedLinesGiveTheirCodes)
{
    const struct
    {
        const char* line;
        int code;
    } cases[] = {
        {"", CAB_E_NO_COMMAND},
        {"   \t ", CAB_E_NO_COMMAND},
        {"\"x.cab\" \"C:\\\" a.txt", CAB_E_NO_COMMAND},
        {"\"-a\" \"x.cab\" \"C:\\\" a.txt", CAB_E_NO_COMMAND},
        {"-a", CAB_E_NO_CABINET_NAME},
        {"-a \"\" \"C:\\\" a.txt", CAB_E_NO_CABINET_NAME},
        {"-a \"x.cab\"", CAB_E_NO_BASE_FOLDER},
        {"-a x.cab \"\" a.txt", CAB_E_NO_BASE_FOLDER},
        {"-a \"x.cab", CAB_E_UNTERMINATED_QUOTE},
        {"-a x.cab \"C:\\x\\\" \"@r.txt", CAB_E_UNTERMINATED_QUOTE},
        {"-x x.cab C:\\ a.txt", CAB_E_UNKNOWN_SWITCH},
        {"-a -r x.cab C:\\ a.txt", CAB_E_UNKNOWN_SWITCH},
        {"-a x.cab C:\\ a.txt /s", CAB_E_UNKNOWN_SWITCH},
    };
    for (const auto& c : cases)
    {
        CommandLine parsed;
        EXPECT_EQ(c.code, ParseCommandLine(c.line, parsed, IsLeadByte932).code) << c.line;
    }
}

TEST(ResponseFile, LinesAreQuotedOrBareAndBlankLinesSkipped)
{
    const struct
    {
        const char* line;
        int code;
        bool blank;
        const char* name;
    } cases[] = {
        {"\"sub\\a b.txt\"", CAB_OK, false, "sub\\a b.txt"},
        {"  \"a.txt\"\t", CAB_OK, false, "a.txt"},
        {"sub\\bare.txt", CAB_OK, false, "sub\\bare.txt"},
        {"  bare with blanks.txt  ", CAB_OK, false, "bare with blanks.txt"},
        {"", CAB_OK, true, ""},
        {" \t ", CAB_OK, true, ""},
        {"\"\"", CAB_OK, false, ""},
        {"\"a.txt\" b", CAB_E_RESPONSE_SYNTAX, false, ""},
        {"\"a.txt", CAB_E_RESPONSE_SYNTAX, false, ""},
        {"a\"b.txt", CAB_E_RESPONSE_SYNTAX, false, ""},
    };
    for (const auto& c : cases)
    {
        std::string name;
        bool blank = false;
        CabError e = ParseResponseLine(c.line, name, blank);
        EXPECT_EQ(c.code, e.code) << c.line;
        if (!e)
        {
            EXPECT_EQ(c.blank, blank) << c.line;
            EXPECT_EQ(c.name, name) << c.line;
        }
    }
    std::string name;
    bool blank;
    EXPECT_EQ(CAB_E_RESPONSE_SYNTAX, ParseResponseLine(std::string("a\0b", 3), name, blank).code);
}

TEST(Names, OnlyRelativeNamesInsideTheTreeAreStored)
{
    const struct
    {
        std::string name;
        int code;
        const char* stored;
    } cases[] = {
        {"a.txt", CAB_OK, "a.txt"},
        {"sub/dir\\a.txt", CAB_OK, "sub\\dir\\a.txt"},
        {"..a\\b..\\c.txt", CAB_OK, "..a\\b..\\c.txt"},
        {"\x83\x5C\x95\x5C.txt", CAB_OK, "\x83\x5C\x95\x5C.txt"}, // ソ表.txt: trail bytes 0x5C
        {"\x94\x5C\\\x97\x7C.txt", CAB_OK, "\x94\x5C\\\x97\x7C.txt"}, // trail byte 0x7C is no '|'
        {"", CAB_E_EMPTY_NAME, nullptr},
        {"a\\\\b.txt", CAB_E_EMPTY_NAME, nullptr},
        {"sub\\", CAB_E_EMPTY_NAME, nullptr},
        {"C:\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"c:a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"\\\\server\\share\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"/etc/passwd", CAB_E_ABSOLUTE_PATH, nullptr},
        {"..\\a.txt", CAB_E_PARENT_PATH, nullptr},
        {"sub\\..\\..\\a.txt", CAB_E_PARENT_PATH, nullptr},
        {"sub/../a.txt", CAB_E_PARENT_PATH, nullptr},
        {".\\a.txt", CAB_E_PARENT_PATH, nullptr},
        {"sub\\..", CAB_E_PARENT_PATH, nullptr},
        {"a:b.txt", CAB_E_ABSOLUTE_PATH, nullptr}, // drive A, relative
        {"ab:c.txt", CAB_E_BAD_NAME, nullptr},
        {"a|b.txt", CAB_E_BAD_NAME, nullptr},
        {"a?.txt", CAB_E_BAD_NAME, nullptr},
        {"a\tb.txt", CAB_E_BAD_NAME, nullptr},
        {"abc\x83", CAB_E_BAD_NAME, nullptr},      // lead byte without its trail
        {"a\x83\x1F.txt", CAB_E_BAD_NAME, nullptr}, // trail byte out of range
        {std::string(255, 'n'), CAB_OK, nullptr},
        {std::string(256, 'n'), CAB_E_NAME_TOO_LONG, nullptr},
    };
    for (const auto& c : cases)
    {
        std::string name = c.name;
        EXPECT_EQ(c.code, ValidateName(name, IsLeadByte932).code) << c.name;
        if (c.stored)
        {
            EXPECT_EQ(c.stored, name);
        }
    }
}

TEST(Format, RecordsHaveTheirOnDiskLayout)
{
    CabHeader h;
    h.cbCabinet = 0x11223344;
    h.coffFiles = 44;
    h.cFolders = 1;
    h.cFiles = 0x0203;
    h.setID = 0xBEEF;
    uint8_t raw[kHeaderSize];
    EncodeHeader(h, raw);
    const uint8_t expected[kHeaderSize] = {'M', 'S', 'C', 'F', 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0,
                                           44, 0, 0, 0, 0, 0, 0, 0, 3, 1, 1, 0, 3, 2, 0, 0, 0xEF, 0xBE, 0, 0};
    EXPECT_EQ(0, std::memcmp(expected, raw, kHeaderSize));
    CabHeader back;
    DecodeHeader(raw, back);
    EXPECT_EQ(h.cbCabinet, back.cbCabinet);
    EXPECT_EQ(h.cFiles, back.cFiles);

    CabFile f;
    f.cbFile = 5;
    f.uoffFolderStart = 0x10000;
    f.iFolder = 2;
    f.date = 0x2A43;
    f.time = 0x20A3;
    f.attribs = 0x21;
    uint8_t rf[kFileFixedSize];
    EncodeFile(f, rf);
    const uint8_t ef[kFileFixedSize] = {5, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0x43, 0x2A, 0xA3, 0x20, 0x21, 0};
    EXPECT_EQ(0, std::memcmp(ef, rf, kFileFixedSize));
}

TEST(Format, ChecksumFoldsTrailingBytesBigEndian)
{
    const uint8_t d[7] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(0x04030201u ^ 0x00050607u, Checksum(d, 7, 0));
    EXPECT_EQ(0x04030201u ^ 0x00000506u, Checksum(d, 6, 0));
    EXPECT_EQ(0x04030201u ^ 0x00000005u ^ 0xF0F0F0F0u, Checksum(d, 5, 0xF0F0F0F0u));
    // CFDATA: payload first, then cbData and cbUncomp as one more word.
    EXPECT_EQ(0x04030201u ^ 0x00050607u ^ 0x00080007u, DataChecksum(d, 7, 8));
}

TEST(Format, DosTimesAreClampedToTheirRange)
{
    uint16_t date, time;
    MakeDosDateTime(2001, 2, 3, 4, 5, 7, date, time);
    EXPECT_EQ(0x2A43, date);
    EXPECT_EQ(0x20A3, time);
    MakeDosDateTime(1601, 1, 1, 12, 0, 0, date, time);
    EXPECT_EQ((0 << 9) | (1 << 5) | 1, date);
    EXPECT_EQ(0, time);
    MakeDosDateTime(2200, 6, 6, 6, 6, 6, date, time);
    EXPECT_EQ((127 << 9) | (12 << 5) | 31, date);
    EXPECT_EQ((23 << 11) | (59 << 5) | 29, time);
}

TEST(Mszip, BlocksDecodeWithTheirHistoryAndIncompressibleOnesAreStored)
{
    MszipEncoder enc;
    MszipDecoder dec;
    std::vector<uint8_t> packed(kMaxBlockData), out(kBlockSize);
    size_t len = 0;

    const std::string noise = Bytes(kBlockSize, 7);
    const uint8_t* n = reinterpret_cast<const uint8_t*>(noise.data());
    ASSERT_TRUE(enc.Encode(nullptr, 0, n, noise.size(), packed.data(), len));
    EXPECT_EQ(noise.size() + 7, len);
    EXPECT_EQ(0x01, packed[2]); // final stored block
    ASSERT_TRUE(dec.Decode(nullptr, 0, packed.data(), len, out.data(), noise.size()));
    EXPECT_EQ(0, std::memcmp(out.data(), n, noise.size()));

    // Noise repeating the previous block's second half refers back into it.
    const std::string again = noise.substr(kBlockSize / 2) + noise.substr(kBlockSize / 2);
    const uint8_t* r = reinterpret_cast<const uint8_t*>(again.data());
    size_t withHistory = 0;
    ASSERT_TRUE(enc.Encode(n, noise.size(), r, again.size(), packed.data(), withHistory));
    EXPECT_LT(withHistory, 1000u);
    ASSERT_TRUE(dec.Decode(n, noise.size(), packed.data(), withHistory, out.data(), again.size()));
    EXPECT_EQ(0, std::memcmp(out.data(), r, again.size()));
    EXPECT_FALSE(dec.Decode(nullptr, 0, packed.data(), withHistory, out.data(), again.size()));

    // A block must expand to exactly its stated size.
    const std::string text(5000, 'a');
    ASSERT_TRUE(enc.Encode(nullptr, 0, reinterpret_cast<const uint8_t*>(text.data()), text.size(), packed.data(), len));
    EXPECT_LT(len, 100u);
    EXPECT_TRUE(dec.Decode(nullptr, 0, packed.data(), len, out.data(), 5000));
    EXPECT_FALSE(dec.Decode(nullptr, 0, packed.data(), len, out.data(), 4999));
    EXPECT_FALSE(dec.Decode(nullptr, 0, packed.data(), len, out.data(), 5001));
    packed[0] = 'X';
    EXPECT_FALSE(dec.Decode(nullptr, 0, packed.data(), len, out.data(), 5000));
}

TEST(Archive, WritesAVerifiedCabinetWithEveryRecordInPlace)
{
    MemFiles fs;
    const std::string a = Bytes(kBlockSize, 1), b = Bytes(kBlockSize + 1, 2), c(100000, 'z');
    fs.files["C:\\Src\\empty.txt"] = "";
    fs.files["C:\\Src\\a.bin"] = a;
    fs.files["C:\\Src\\sub\\b.bin"] = b;
    fs.files["C:\\Src\\ro.txt"] = c;
    fs.files["C:\\Src\\respons.txt"] = "\"empty.txt\"\r\n\r\n\"a.bin\"\r\nsub\\b.bin\n";
    fs.files["C:\\Src\\more.txt"] = "ro.txt";
    fs.files["C:\\Out\\b.cab"] = "old";
    ArchiveReport report;
    ASSERT_FALSE(Archive(fs, std::string(kProgramCommand) + " @more.txt", &report));
    EXPECT_FALSE(fs.HasTemp());
    EXPECT_EQ(4u, report.files);

    const std::string cab = fs.files["C:\\Out\\b.cab"];
    EXPECT_EQ(report.cabinetBytes, cab.size());
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(cab, v));
    ASSERT_EQ(1u, v.folders.size());
    EXPECT_EQ(Crc(a + b + c), v.folders[0].crc);
    EXPECT_EQ(6u, v.folders[0].blocks); // 165,537 bytes

    // The file table follows the single folder directly.
    const uint8_t* p = reinterpret_cast<const uint8_t*>(cab.data());
    CabHeader h;
    DecodeHeader(p, h);
    EXPECT_EQ(kHeaderSize + kFolderSize, h.coffFiles);
    const char* names[] = {"empty.txt", "a.bin", "sub\\b.bin", "ro.txt"};
    const uint32_t sizes[] = {0, kBlockSize, kBlockSize + 1, 100000};
    size_t at = h.coffFiles;
    uint32_t offset = 0;
    for (int i = 0; i < 4; ++i)
    {
        CabFile f;
        DecodeFile(p + at, f);
        EXPECT_EQ(sizes[i], f.cbFile);
        EXPECT_EQ(offset, f.uoffFolderStart);
        EXPECT_EQ(0x2A43, f.date);
        EXPECT_EQ(0x20A3, f.time);
        EXPECT_EQ(i == 3 ? 0x21 : 0x20, f.attribs);
        EXPECT_STREQ(names[i], cab.c_str() + at + kFileFixedSize);
        at += kFileFixedSize + std::strlen(names[i]) + 1;
        offset += sizes[i];
    }
    CabFolder folder;
    DecodeFolder(p + kHeaderSize, folder);
    EXPECT_EQ(at, folder.coffCabStart);
    EXPECT_EQ(kTypeMszip, folder.typeCompress);
}

TEST(Archive, LargeBackupsSpreadOverFolders)
{
    MemFiles fs;
    std::string list;
    for (int i = 0; i < 5; ++i)
    {
        fs.files["C:\\Src\\f" + std::to_string(i)] = Bytes(60000 + i, i);
        list += "f" + std::to_string(i) + "\n";
    }
    fs.files["C:\\Src\\respons.txt"] = list;
    ArchiveOptions options;
    options.folderLimit = 130000;
    ArchiveReport report;
    ASSERT_FALSE(Archive(fs, kProgramCommand, &report, options));
    EXPECT_EQ(3u, report.folders);
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(fs.files["C:\\Out\\b.cab"], v));
    ASSERT_EQ(3u, v.folders.size());
    EXPECT_EQ(Crc(fs.files["C:\\Src\\f0"] + fs.files["C:\\Src\\f1"]), v.folders[0].crc);
    EXPECT_EQ(Crc(fs.files["C:\\Src\\f4"]), v.folders[2].crc);

    fs.files["C:\\Src\\f2"] = Bytes(130001, 9);
    EXPECT_EQ(CAB_E_FILE_TOO_LARGE, Archive(fs, kProgramCommand, nullptr, options).code);
}

TEST(Archive, AGrowingFileIsStoredAsListedAndAShrinkingOneFails)
{
    MemFiles fs;
    fs.files["C:\\Src\\log.txt"] = "12345";
    fs.files["C:\\Src\\respons.txt"] = "log.txt\n";
    fs.changeOnOpen["C:\\Src\\log.txt"] = "1234567890";
    ASSERT_FALSE(Archive(fs, kProgramCommand));
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(fs.files["C:\\Out\\b.cab"], v));
    EXPECT_EQ(5u, v.folders[0].bytes);
    EXPECT_EQ(Crc("12345"), v.folders[0].crc);

    fs.files["C:\\Src\\log.txt"] = "1234567890";
    fs.changeOnOpen["C:\\Src\\log.txt"] = "123";
    fs.files["C:\\Out\\b.cab"] = "old";
    CabError e = Archive(fs, kProgramCommand);
    EXPECT_EQ(CAB_E_SOURCE_CHANGED, e.code);
    EXPECT_EQ("C:\\Src\\log.txt", e.file);
    EXPECT_EQ("old", fs.files["C:\\Out\\b.cab"]);
    EXPECT_FALSE(fs.HasTemp());
}

TEST(Archive, EveryFailureLeavesTheTargetAndNoTemporaryFile)
{
    const struct
    {
        const char* name;
        int code;
        void (*setup)(MemFiles&);
    } cases[] = {
        {"missing file", CAB_E_SOURCE_OPEN, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "gone.txt\n"; }},
        {"folder listed", CAB_E_SOURCE_IS_FOLDER,
         [](MemFiles& fs) { fs.folders.insert("C:\\Src\\sub\\"); fs.files["C:\\Src\\respons.txt"] += "sub\n"; }},
        {"unreadable file", CAB_E_SOURCE_READ, [](MemFiles& fs) { fs.unreadable.insert("C:\\Src\\b.txt"); }},
        {"disk full", CAB_E_WRITE, [](MemFiles& fs) { fs.diskRoom = 2000; }},
        {"rename refused", CAB_E_REPLACE, [](MemFiles& fs) { fs.failReplace = true; }},
        {"empty response", CAB_E_NO_FILES, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] = "\r\n\r\n"; }},
        {"no response", CAB_E_RESPONSE_OPEN, [](MemFiles& fs) { fs.files.erase("C:\\Src\\respons.txt"); }},
        {"unreadable response", CAB_E_RESPONSE_READ, [](MemFiles& fs) { fs.unreadable.insert("C:\\Src\\respons.txt"); }},
        {"parent path", CAB_E_PARENT_PATH, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\"..\\x.txt\"\n"; }},
        {"absolute path", CAB_E_ABSOLUTE_PATH, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "C:\\x.txt\n"; }},
        {"bad line", CAB_E_RESPONSE_SYNTAX, [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += "\"a.txt\n"; }},
        {"long name", CAB_E_NAME_TOO_LONG,
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += std::string(256, 'n') + "\n"; }},
        {"endless line", CAB_E_NAME_TOO_LONG,
         [](MemFiles& fs) { fs.files["C:\\Src\\respons.txt"] += std::string(100000, 'n'); }},
    };
    for (const auto& c : cases)
    {
        MemFiles fs;
        fs.files["C:\\Src\\a.txt"] = Bytes(70000, 1);
        fs.files["C:\\Src\\b.txt"] = Bytes(70000, 2);
        fs.files["C:\\Src\\respons.txt"] = "a.txt\r\nb.txt\r\n";
        fs.files["C:\\Out\\b.cab"] = "old";
        c.setup(fs);
        CabError e = Archive(fs, kProgramCommand);
        EXPECT_EQ(c.code, e.code) << c.name;
        EXPECT_EQ("old", fs.files["C:\\Out\\b.cab"]) << c.name;
        EXPECT_FALSE(fs.HasTemp()) << c.name;
    }

    MemFiles fs;
    fs.files["C:\\Src\\a.txt"] = "a";
    fs.files["C:\\Src\\respons.txt"] = "a.txt\r\n";
    CabError e = Archive(fs, "-a \"C:\\Nowhere\\b.cab\" \"C:\\Src\\\" \"@respons.txt\"");
    EXPECT_EQ(CAB_E_TEMP_CREATE, e.code);
    EXPECT_EQ(3u, e.sysError);
    fs.files["C:\\Src\\respons.txt"] = "a.txt\r\n\r\n\"b.txt\" x\r\n";
    e = Archive(fs, kProgramCommand);
    EXPECT_EQ(CAB_E_RESPONSE_SYNTAX, e.code);
    EXPECT_EQ(3u, e.line);
    EXPECT_EQ("C:\\Src\\respons.txt", e.responseFile);
}

TEST(Verifier, DamagedCabinetsAreRejected)
{
    MemFiles fs;
    fs.files["C:\\Src\\a.txt"] = std::string(40000, 'a') + Bytes(30000, 3);
    fs.files["C:\\Src\\b.txt"] = "bbb";
    fs.files["C:\\Src\\respons.txt"] = "a.txt\nb.txt\n";
    ASSERT_FALSE(Archive(fs, kProgramCommand));
    const std::string good = fs.files["C:\\Out\\b.cab"];
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(good, v));

    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(CAB_E_VERIFY_FAILED, Verify(good.substr(0, n), v).code) << n;

    // Every byte of the header, the folder record and the data is checked;
    // only the set ID, names, dates and attributes may take any value.
    CabHeader h;
    DecodeHeader(reinterpret_cast<const uint8_t*>(good.data()), h);
    CabFolder f;
    DecodeFolder(reinterpret_cast<const uint8_t*>(good.data()) + kHeaderSize, f);
    for (size_t i = 0; i < good.size(); ++i)
    {
        if ((i >= 32 && i < 34) || (i >= h.coffFiles && i < f.coffCabStart))
            continue;
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x10);
        EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code) << "byte " << i;
    }
    // The last file claiming more than its folder holds.
    std::string bad = good;
    const size_t last = h.coffFiles + kFileFixedSize + sizeof("a.txt");
    bad[last] = static_cast<char>(bad[last] + 1);
    EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code);
}

namespace {

// Every folder of every cabinet of a set, decoded, in order.
std::vector<FolderSummary> VerifySet(MemFiles& fs, const std::vector<std::string>& names,
                                     std::vector<VerifiedCabinet>* each = nullptr)
{
    std::vector<FolderSummary> folders;
    for (const std::string& name : names)
    {
        VerifiedCabinet v;
        CabError e = Verify(fs.files[name], v);
        EXPECT_FALSE(e) << name << ": " << e.detail;
        folders.insert(folders.end(), v.folders.begin(), v.folders.end());
        if (each)
            each->push_back(v);
    }
    return folders;
}

} // namespace

TEST(Parallel, OutputIsTheSameForAnyNumberOfThreadsAndDecodesAcrossBlocksAndFolders)
{
    MemFiles fs;
    std::string list, all;
    // Sizes around block edges, text that refers back across blocks, random data.
    const size_t sizes[] = {1, kBlockSize - 1, kBlockSize, kBlockSize + 1, 3 * kBlockSize + 17, 0, 200000, 5};
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i)
    {
        std::string data;
        if (i % 2 == 0)
        {
            while (data.size() < sizes[i])
                data += "line " + std::to_string(data.size() % 977) + " of the shared text\r\n";
        }
        else
        {
            data = Bytes(sizes[i], static_cast<uint32_t>(i));
        }
        data.resize(sizes[i]);
        fs.files["C:\\Src\\f" + std::to_string(i)] = data;
        list += "f" + std::to_string(i) + "\n";
        all += data;
    }
    fs.files["C:\\Src\\respons.txt"] = list;
    std::string first;
    for (unsigned threads : {1u, 2u, 3u})
    {
        ArchiveOptions options;
        options.threads = threads;
        options.folderLimit = 250000;
        ArchiveReport report;
        ASSERT_FALSE(Archive(fs, kProgramCommand, &report, options)) << threads;
        const std::string cab = fs.files["C:\\Out\\b.cab"];
        if (first.empty())
            first = cab;
        EXPECT_EQ(first, cab) << threads << " threads";
        EXPECT_LT(1u, report.folders);
    }
    std::vector<FolderSummary> folders = VerifySet(fs, {"C:\\Out\\b.cab"});
    uint64_t at = 0;
    for (const FolderSummary& f : folders)
    {
        EXPECT_EQ(Crc(all.substr(at, f.bytes)), f.crc);
        at += f.bytes;
    }
    EXPECT_EQ(all.size(), at);
    // The history is used: text repeating across blocks packs smaller than independent blocks would.
    MszipEncoder enc;
    std::vector<uint8_t> packed(kMaxBlockData);
    size_t independent = 0, len = 0;
    const std::string& text = fs.files["C:\\Src\\f6"];
    for (size_t off = 0; off + kBlockSize <= text.size(); off += kBlockSize)
    {
        ASSERT_TRUE(enc.Encode(nullptr, 0, reinterpret_cast<const uint8_t*>(text.data()) + off, kBlockSize,
                               packed.data(), len));
        independent += len;
    }
    fs.files["C:\\Src\\respons.txt"] = "f6\n";
    ASSERT_FALSE(Archive(fs, kProgramCommand));
    EXPECT_LT(fs.files["C:\\Out\\b.cab"].size(), independent);
}

TEST(Sets, MoreThan65535FilesMakeASetLinkedByName)
{
    MemFiles fs;
    std::string list, all;
    const uint32_t count = kMaxFiles + 4465;
    for (uint32_t i = 0; i < count; ++i)
    {
        std::string name = "d" + std::to_string(i / 1000) + "\\" + std::to_string(i) + ".txt";
        std::string data = std::to_string(i * 7) + "\n";
        fs.files["C:\\Src\\" + name] = data;
        list += name + "\n";
        all += data;
    }
    fs.files["C:\\Src\\respons.txt"] = list;
    ArchiveOptions options;
    options.setID = 0x1234;
    ArchiveReport report;
    ASSERT_FALSE(Archive(fs, kProgramCommand, &report, options));
    EXPECT_EQ(2u, report.cabinets);
    EXPECT_EQ(count, report.files);
    std::vector<VerifiedCabinet> v;
    std::vector<FolderSummary> folders = VerifySet(fs, {"C:\\Out\\b.cab", "C:\\Out\\b_2.cab"}, &v);
    ASSERT_EQ(2u, v.size());
    EXPECT_EQ(kMaxFiles, v[0].files);
    EXPECT_EQ(count - kMaxFiles, v[1].files);
    EXPECT_EQ("", v[0].prevName);
    EXPECT_EQ("b_2.cab", v[0].nextName);
    EXPECT_EQ("b.cab", v[1].prevName);
    EXPECT_EQ("", v[1].nextName);
    EXPECT_EQ(0, v[0].iCabinet);
    EXPECT_EQ(1, v[1].iCabinet);
    EXPECT_EQ(0x1234, v[0].setID);
    EXPECT_EQ(0x1234, v[1].setID);
    ASSERT_EQ(2u, folders.size());
    EXPECT_EQ(Crc(all), static_cast<uint32_t>(crc32_combine(folders[0].crc, folders[1].crc, folders[1].bytes)));
    EXPECT_FALSE(fs.HasTemp());
}

TEST(Sets, ALowerCabinetSizeSplitsAtWholeFilesAndKeepsEveryCabinetUnderIt)
{
    MemFiles fs;
    std::string list, all;
    for (int i = 0; i < 7; ++i)
    {
        std::string data = Bytes(50000 + 1000 * i, 100 + i);
        fs.files["C:\\Src\\r" + std::to_string(i)] = data;
        list += "r" + std::to_string(i) + "\n";
        all += data;
    }
    fs.files["C:\\Src\\respons.txt"] = list;
    const std::string command = "-v150000 " + std::string(kProgramCommand);
    ArchiveReport report;
    ASSERT_FALSE(Archive(fs, command, &report));
    ASSERT_EQ(4u, report.cabinets); // two random files fit one cabinet of 150,000 bytes
    std::vector<std::string> names = {"C:\\Out\\b.cab", "C:\\Out\\b_2.cab", "C:\\Out\\b_3.cab", "C:\\Out\\b_4.cab"};
    for (const std::string& n : names)
        EXPECT_GE(150000u, fs.files[n].size()) << n;
    std::vector<FolderSummary> folders = VerifySet(fs, names);
    uint64_t at = 0;
    for (const FolderSummary& f : folders)
    {
        EXPECT_EQ(Crc(all.substr(at, f.bytes)), f.crc);
        at += f.bytes;
    }
    EXPECT_EQ(all.size(), at);

    // A file that cannot fit one cabinet even stored.
    fs.files["C:\\Src\\r3"] = Bytes(149900, 1);
    EXPECT_EQ(CAB_E_FILE_TOO_LARGE, Archive(fs, command).code);
}

TEST(Sets, AFailedSetLeavesNoPartAndTheOldCabinetsUntouched)
{
    auto setUp = [](MemFiles& fs) {
        fs.files["C:\\Src\\respons.txt"] = "a\nb\nc\n";
        for (const char* n : {"a", "b", "c"})
            fs.files[std::string("C:\\Src\\") + n] = Bytes(60000, n[0]);
        fs.files["C:\\Out\\b.cab"] = "old 1";
        fs.files["C:\\Out\\b_2.cab"] = "old 2";
    };
    const std::string command = "-v100000 " + std::string(kProgramCommand);
    for (int fault = 0; fault < 4; ++fault)
    {
        MemFiles fs;
        setUp(fs);
        if (fault == 0)
            fs.diskRoom = 150000; // the second cabinet does not fit the disk
        else if (fault == 1)
            fs.refuseAsTarget.insert("C:\\Out\\b_3.cab"); // the last rename fails
        else if (fault == 2)
            fs.refuseAsTarget.insert("C:\\Out\\b.cab");
        else
        {
            fs.files["C:\\Src\\c"] = Bytes(1000, 1); // shrinks to nothing once listed
            fs.changeOnOpen["C:\\Src\\c"] = "";
        }
        CabError e = Archive(fs, command);
        EXPECT_TRUE(e) << fault;
        EXPECT_EQ("old 1", fs.files["C:\\Out\\b.cab"]) << fault;
        EXPECT_EQ("old 2", fs.files["C:\\Out\\b_2.cab"]) << fault;
        EXPECT_EQ(0u, fs.files.count("C:\\Out\\b_3.cab")) << fault;
        EXPECT_FALSE(fs.HasTemp()) << fault;
    }
    MemFiles fs;
    setUp(fs);
    ASSERT_FALSE(Archive(fs, command));
    EXPECT_NE("old 2", fs.files["C:\\Out\\b_2.cab"]);
    EXPECT_EQ(1u, fs.files.count("C:\\Out\\b_3.cab"));
    EXPECT_FALSE(fs.HasTemp());
    EXPECT_EQ("D:\\x\\y.v1_3.cab", SetMemberPath("D:\\x\\y.v1.cab", 2, IsLeadByte932));
    EXPECT_EQ("D:\\x.d\\backup_2", SetMemberPath("D:\\x.d\\backup", 1, IsLeadByte932));
    EXPECT_EQ("b.cab", SetMemberPath("b.cab", 0, IsLeadByte932));
}

TEST(Cancel, EndsTheRunAtAnyPointWithNothingLeftBehind)
{
    for (int when = 0; when < 3; ++when)
    {
        MemFiles fs;
        fs.files["C:\\Src\\a"] = Bytes(300000, 1);
        fs.files["C:\\Src\\b"] = Bytes(300000, 2);
        fs.files["C:\\Src\\respons.txt"] = "a\nb\n";
        fs.files["C:\\Out\\b.cab"] = "old";
        RunControl control;
        ArchiveOptions options;
        options.control = &control;
        if (when == 0)
            control.cancel = true;
        fs.onOpen = [&](const std::string& path) {
            if ((when == 1 && path == "C:\\Src\\b") || (when == 2 && path.find(".tmp") != std::string::npos))
                control.cancel = true;
        };
        CabError e = Archive(fs, kProgramCommand, nullptr, options);
        EXPECT_EQ(CAB_E_CANCELLED, e.code) << when;
        EXPECT_EQ("old", fs.files["C:\\Out\\b.cab"]) << when;
        EXPECT_FALSE(fs.HasTemp()) << when;
        if (when == 1)
        {
            EXPECT_EQ(RunPhase::Writing, control.phase.load());
            EXPECT_EQ(600000u, control.totalBytes.load());
            EXPECT_TRUE(control.File() == "a" || control.File() == "b") << control.File();
        }
        if (when == 2)
        {
            EXPECT_EQ(RunPhase::Verifying, control.phase.load());
        }
    }
}

TEST(CommandLine, CabinetSizeSwitch)
{
    CommandLine c;
    ASSERT_FALSE(ParseCommandLine("-v1000000 -a x.cab C:\\", c, IsLeadByte932));
    EXPECT_EQ(1000000u, c.cabinetLimit);
    ASSERT_FALSE(ParseCommandLine("-a x.cab C:\\", c, IsLeadByte932));
    EXPECT_EQ(0u, c.cabinetLimit);
    for (const char* bad : {"-v -a x.cab C:\\", "-v12x -a x.cab C:\\", "-v100 -a x.cab C:\\", "-v2147483648 -a x.cab C:\\"})
        EXPECT_EQ(CAB_E_UNKNOWN_SWITCH, ParseCommandLine(bad, c, IsLeadByte932).code) << bad;
}
