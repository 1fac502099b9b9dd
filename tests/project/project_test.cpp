#include "framework/CFile.h"
#include "framework/CMemFile.h"
#include "project/Project.h"
#include "project/ProjectStore.h"
#include "tests/support/test_support.h"
#include "tests/support/MemoryProjectList.h"
#include "tests/support/project_dat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

typedef std::vector<std::string> Texts;

const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";
using project_dat::Archived;
using project_dat::File;
using project_dat::Int32;
using project_dat::Record;

const std::string kMagic = Archived(project_dat::kMagic);

// The default project's record is 15 bytes.
const std::string kDefaultFile = File(1, 0, std::string("\x0A\x96\xBC\x8F\xCC\x96\xA2\x90\xDD\x92\xE8\0\0\0\0", 15));

class ProjectStore : public ::testing::Test
{
protected:
    CString DataPath() const { return m_dir / "project.dat"; }
    // The list's names and the selection after loading the file's bytes.
    std::string Loaded(const std::string& bytes)
    {
        if (bytes != "<as it is>")
            bytes == "<none>" ? DeleteFileA(DataPath()) : WriteBytes(DataPath(), bytes);
        for (int i = 0; i < m_list.GetCount(); i++)
            delete m_list.At(i);
        LoadProjectList(m_list, DataPath());
        std::string names;
        for (int i = 0; i < m_list.GetCount(); i++)
            names += m_list.Text(i) + "=" + std::string(m_list.At(i)->name) + ",";
        return names + std::to_string(m_list.GetCurSel());
    }

    TempDir m_dir;
    MemoryProjectList m_list;
    MessageBoxRecorder m_boxes;
};

TEST(ProjectRecord, LoadingReplacesEveryFieldOfAUsedRecord)
{
    Project used;
    auto load = [&used](const std::string& bytes) {
        used.name = used.sourceFolder = used.backupFolder = used.ignoredExtensions = used.ignoredFolders = "old";
        CMemFile memory(bytes.data(), bytes.size());
        CArchive ar(&memory, CArchive::load);
        used.Serialize(ar);
        return std::string(used.name + "|" + used.sourceFolder + "|" + used.backupFolder + "|" +
                           used.ignoredExtensions + "|" + used.ignoredFolders);
    };
    EXPECT_EQ("表示|C:\\ソース\\表|D:\\a, b ||,", load(Archived("表示") + Archived("C:\\ソース\\表") +
                                                       Archived("D:\\a, b ") + Archived("") + Archived(",")));
    try { // data ending inside the third string: the first two fields are new
        load(Archived("new") + Archived("src") +
             "\x09"
             "abc");
        ADD_FAILURE() << "no error";
    } catch (CArchiveException& e) {
        EXPECT_EQ(CArchiveException::endOfFile, e.m_cause);
    }
    EXPECT_EQ(CString("new|src|old"), used.name + "|" + used.sourceFolder + "|" + used.backupFolder);
}

TEST_F(ProjectStore, ReadingEveryKindOfFileSilently)
{
    const std::string byDefault = "名称未設定=名称未設定,0";
    struct
    {
        const char* what;
        std::string bytes, loaded;
    } cases[] = {
        {"no file", "<none>", byDefault},
        {"empty file", "", byDefault},
        {"magic plus one character", File(1, 0, Record("a"), "KESTELVARNHOLMX"), byDefault},
        {"magic in lower case", File(1, 0, Record("a"), "kestelvarnholm"), byDefault},
        {"ends inside the count", kMagic + "\x01\x00", byDefault},
        {"ends inside the selection", kMagic + Int32(1) + "\x01", byDefault},
        {"count 3, two whole records", File(3, 0, Record("a") + Record("b") + "\x05xy"), "a=a,b=b,-1"},
        {"count 0", File(0, 0, ""), byDefault},
        {"count negative", File(-5, 0, Record("a")), byDefault},
        {"selection names no entry", File(2, 5, Record("a") + Record("b")), "a=a,b=b,-1"},
        {"huge count", File(0x7FFFFFFF, 0, Record("a")), "a=a,-1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.loaded, Loaded(c.bytes)) << c.what;
    EXPECT_TRUE(m_boxes.Boxes().empty());
}

TEST_F(ProjectStore, SavingKeepsEveryByteAndKeepsADamagedOrUnreadableFileAsBak)
{
    Loaded("<none>");
    CloseProjectList(m_list, DataPath());
    EXPECT_EQ(38u, kDefaultFile.size());
    EXPECT_EQ(kDefaultFile, ReadBytes(DataPath()));

    // A long text crosses the file buffer both ways.
    std::string bytes =
        File(3, 2,
             Archived("表示") + Archived("C:\\ソース\\表") + Archived("D:\\バックアップ") + Archived("obj, h,,表") +
                 "\xFF\x88\x13" + std::string(5000, 'f') + Record("") + Archived("a,b") + Archived(" x ") +
                 Archived("") + Archived(",") + Archived("\x81\x40"));
    EXPECT_EQ("表示=表示,=,a,b=a,b,2", Loaded(bytes));
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(bytes, ReadBytes(DataPath()));
    EXPECT_FALSE(Exists(DataPath() + ".bak"));

    // Bytes left after the last record read are records the list does not have: kept aside.
    struct
    {
        const char* what;
        std::string bytes, written;
    } leftovers[] = {
        {"count -3 before three records", File(-3, 0, Record("a") + Record("b") + Record("c")), kDefaultFile},
        {"count 0 before a record", File(0, 0, Record("a")), kDefaultFile},
        {"count 1 before two records", File(1, 0, Record("a") + Record("b")), File(1, 0, Record("a"))},
        {"bytes after the last record", bytes + "trailing", bytes},
    };
    for (const auto& c : leftovers) {
        DeleteFileA(DataPath() + ".bak");
        Loaded(c.bytes);
        EXPECT_TRUE(SaveProjectList(m_list, DataPath())) << c.what;
        EXPECT_EQ(c.written, ReadBytes(DataPath())) << c.what;
        EXPECT_EQ(c.bytes, ReadBytes(DataPath() + ".bak")) << c.what;
    }
    DeleteFileA(DataPath() + ".bak");

    std::string damaged = File(3, 0,
                               Record("a") + Record("b") +
                                   "\x09"
                                   "cut");
    EXPECT_EQ("a=a,b=b,-1", Loaded(damaged));
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(File(2, -1, Record("a") + Record("b")), ReadBytes(DataPath()));
    EXPECT_EQ(damaged, ReadBytes(DataPath() + ".bak"));
    m_list.At(0)->name = "changed"; // later saves leave the kept copy alone
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(damaged, ReadBytes(DataPath() + ".bak"));

    // Locked by another program while loading: its projects are not lost.
    ASSERT_TRUE(WriteBytes(DataPath(), bytes));
    HANDLE other = CreateFileA(DataPath(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ("名称未設定=名称未設定,0", Loaded("<as it is>"));
    CloseHandle(other);
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(kDefaultFile, ReadBytes(DataPath()));
    EXPECT_EQ(bytes, ReadBytes(DataPath() + ".bak"));
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
}

// A hidden file stays hidden when it is replaced; where no file can be made beside it (here a folder
// holds the temporary file's name), the file is overwritten in place, a damaged one kept aside first.
TEST_F(ProjectStore, SavingKeepsAttributesAndWritesInPlaceWhereNothingCanBeMadeBesideIt)
{
    CString blocker;
    blocker.Format("%s.%lu.tmp", DataPath().GetString(), GetCurrentProcessId());
    std::string damaged = File(2, 0, Record("a") + "\x01");
    struct
    {
        bool hidden, blocked;
        std::string before, after, bak;
    } cases[] = {
        {true, false, File(1, 0, Record("old")), File(1, 0, Record("new")), "<missing>"},
        {false, true, File(1, 0, Record(std::string(100, 'o'))), File(1, 0, Record("new")), "<missing>"},
        {true, true, File(1, 0, Record("old")), File(1, 0, Record("new")), "<missing>"},
        {false, true, damaged, File(1, -1, Record("new")), damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before.size());
        DeleteFileA(DataPath() + ".bak");
        SetFileAttributesA(DataPath(), FILE_ATTRIBUTE_NORMAL);
        Loaded(c.before);
        m_list.At(0)->name = "new";
        ASSERT_TRUE(SetFileAttributesA(DataPath(), c.hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL));
        ASSERT_TRUE(!c.blocked || CreateDirectoryA(blocker, nullptr));
        EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
        RemoveDirectoryA(blocker);
        EXPECT_EQ(c.after, ReadBytes(DataPath()));
        EXPECT_EQ(c.hidden, (GetFileAttributesA(DataPath()) & FILE_ATTRIBUTE_HIDDEN) != 0);
        EXPECT_EQ(c.bak, ReadBytes(DataPath() + ".bak"));
    }
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
}

TEST_F(ProjectStore, FailedSavesAskToRetryAndKeepTheOldFile)
{
    std::string previous = File(1, 0, Record("old"));
    struct
    {
        bool locked; // else the disk is full
        std::vector<int> answers;
        Texts texts;
    } cases[] = {{true, {IDOK, IDYES}, {kOpenFailed, kRetry, kOpenFailed, kRetry}}, {false, {IDYES}, {kRetry, kRetry}}};
    for (const auto& c : cases) {
        Loaded(previous);
        m_list.At(0)->name = "new";
        HANDLE other = nullptr;
        if (c.locked)
            other = CreateFileA(DataPath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        else
            CFile::SimulateDiskFull(".tmp", 20);
        MessageBoxRecorder boxes;
        for (int answer : c.answers)
            boxes.Answer(answer);
        CloseProjectList(m_list, DataPath());
        CFile::SimulateDiskFull(nullptr, 0);
        if (other)
            CloseHandle(other);
        EXPECT_EQ(c.texts, boxes.Texts());
        for (const ShownBox& box : boxes.Boxes())
            EXPECT_EQ(static_cast<UINT>((box.text == kRetry ? MB_YESNO : MB_OK) | MB_ICONEXCLAMATION), box.type);
        EXPECT_EQ(previous, ReadBytes(DataPath()));
        EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
        EXPECT_EQ(0, m_list.GetCount());
    }
}

// Where nothing can be made beside project.dat and the disk fills while it is overwritten in place, the old
// bytes are written back: the file holds the old list, never part of each.
TEST_F(ProjectStore, AnInPlaceSaveThatFailsWritesTheOldBytesBack)
{
    CString blocker;
    blocker.Format("%s.%lu.tmp", DataPath().GetString(), GetCurrentProcessId());
    for (size_t room : {0, 40, 120}) {
        SCOPED_TRACE(room);
        const std::string before = File(1, 0, Record("old", std::string(60, 's')));
        Loaded(before);
        m_list.At(0)->name = std::string(200, 'n').c_str();
        ASSERT_TRUE(CreateDirectoryA(blocker, nullptr));
        CFile::SimulateDiskFull("project.dat", before.size() + room);
        EXPECT_FALSE(SaveProjectList(m_list, DataPath()));
        CFile::SimulateDiskFull(nullptr, 0);
        RemoveDirectoryA(blocker);
        EXPECT_EQ(before, ReadBytes(DataPath()));
    }
    EXPECT_TRUE(m_boxes.Boxes().empty());
}

namespace {

int g_refusals = 0, g_tries = 0;
DWORD g_refusal = 0;

// MoveFileExA, refused g_refusals times with g_refusal first.
BOOL WINAPI RefusingReplace(LPCSTR from, LPCSTR to, DWORD flags)
{
    if (++g_tries <= g_refusals) {
        SetLastError(g_refusal);
        return FALSE;
    }
    return MoveFileExA(from, to, flags);
}

} // namespace

// A moment's lock on project.dat (a scanner, a sync client) is waited out on the shared schedule; one that
// outlasts it, or another error, fails the save with the old file and no temporary file left.
TEST_F(ProjectStore, TheReplaceIsTriedAgainThroughAMomentsLock)
{
    const struct
    {
        int refusals;
        DWORD error;
        int tries;
        bool saved;
    } cases[] = {
        {2, ERROR_SHARING_VIOLATION, 3, true},
        {6, ERROR_LOCK_VIOLATION, 7, true},
        {1000, ERROR_ACCESS_DENIED, 7, false},
        {1, ERROR_NOT_SAME_DEVICE, 1, false},
    };
    OverrideProjectReplace(&RefusingReplace);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusals);
        const std::string before = File(1, 0, Record("old"));
        Loaded(before);
        m_list.At(0)->name = "new";
        g_refusals = c.refusals, g_refusal = c.error, g_tries = 0;
        EXPECT_EQ(c.saved, SaveProjectList(m_list, DataPath()));
        EXPECT_EQ(c.tries, g_tries);
        EXPECT_EQ(c.saved ? File(1, 0, Record("new")) : before, ReadBytes(DataPath()));
        EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
    }
    OverrideProjectReplace(nullptr);
    EXPECT_TRUE(m_boxes.Boxes().empty());
}
