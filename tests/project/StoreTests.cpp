#include "framework/CFile.h"
#include "project/ProgramFolder.h"
#include "project/ProjectStore.h"
#include "tests/framework/TestSupport.h"
#include "tests/project/MemoryProjectList.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";

std::string Magic()
{
    return "\x0E" "KESTELVARNHOLM";
}

std::string Int32(int value)
{
    unsigned int v = static_cast<unsigned int>(value);
    char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    return std::string(bytes, 4);
}

std::string Text(const std::string& text)
{
    return std::string(1, static_cast<char>(text.size())) + text;
}

const std::string kDefaultFile = Magic() + Int32(1) + Int32(0) + Text("名称未設定") + std::string(4, '\0');

int g_deleted = 0;

class CountedProject : public Project
{
public:
    ~CountedProject() override { g_deleted++; }
};

class ProjectStore : public ::testing::Test
{
protected:
    CString DataPath() const { return m_dir / "project.dat"; }

    TempDir m_dir;
    MemoryProjectList m_list;
    MessageBoxRecorder m_boxes;
};

} // namespace

TEST_F(ProjectStore, NoFileGivesTheDefaultProjectAndClosingWritesThirtyEightBytes)
{
    LoadProjectList(m_list, DataPath());
    ASSERT_EQ(1, m_list.GetCount());
    EXPECT_EQ("名称未設定", m_list.Text(0));
    EXPECT_EQ(0, m_list.GetCurSel());
    EXPECT_EQ(CString("名称未設定"), m_list.At(0)->name);

    CloseProjectList(m_list, DataPath());
    EXPECT_EQ(0, m_list.GetCount());
    EXPECT_EQ(kDefaultFile, ReadBytes(DataPath()));
    EXPECT_EQ(38u, kDefaultFile.size());
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
    EXPECT_FALSE(Exists(DataPath() + ".bak"));
}

TEST_F(ProjectStore, UnreadableFilesGiveTheDefaultProjectSilently)
{
    std::string cases[] = {
        "",
        "\x0E" "kestelvarnholm" + Int32(1) + Int32(0) + Text("a") + std::string(4, '\0'),
        Magic() + Int32(1),
        Magic() + Int32(0) + Int32(0),
    };
    for (const std::string& bytes : cases) {
        ASSERT_TRUE(WriteBytes(DataPath(), bytes));
        LoadProjectList(m_list, DataPath());
        ASSERT_EQ(1, m_list.GetCount());
        EXPECT_EQ("名称未設定", m_list.Text(0));
        EXPECT_EQ(0, m_list.GetCurSel());
        delete m_list.At(0);
        m_list.Forget();
    }

    // Locked by another program: not even readable.
    ASSERT_TRUE(WriteBytes(DataPath(), kDefaultFile));
    HANDLE other = CreateFileA(DataPath(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    LoadProjectList(m_list, DataPath());
    CloseHandle(other);
    EXPECT_EQ(1, m_list.GetCount());
    EXPECT_EQ(0, m_list.GetCurSel());
    EXPECT_TRUE(m_boxes.Boxes().empty());
}

TEST_F(ProjectStore, LoadingEmptiesTheListAndReadsWhileOthersMayRead)
{
    Project* old = m_list.Add("old");
    ASSERT_TRUE(WriteBytes(DataPath(), Magic() + Int32(2) + Int32(1) + Text("一") + std::string(4, '\0') + Text("二") +
                                            Text("C:\\src") + std::string(3, '\0')));
    HANDLE reader = CreateFileA(DataPath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LoadProjectList(m_list, DataPath());
    CloseHandle(reader);
    delete old;
    ASSERT_EQ(2, m_list.GetCount());
    EXPECT_EQ("一", m_list.Text(0));
    EXPECT_EQ("二", m_list.Text(1));
    EXPECT_EQ(1, m_list.GetCurSel());
    EXPECT_EQ(CString("C:\\src"), m_list.At(1)->sourceFolder);
}

TEST_F(ProjectStore, FileIsKeptByteForByteThroughLoadAndSave)
{
    std::string bytes = Magic() + Int32(3) + Int32(2) + Text("表示") + Text("C:\\ソース\\表") + Text("D:\\バックアップ") +
                        Text("obj, h,,表") + Text("Debug, Release") + Text("") + std::string(4, '\0') +
                        Text("a,b") + Text(" x ") + Text("") + Text(",") + Text("\x81\x40");
    ASSERT_TRUE(WriteBytes(DataPath(), bytes));
    LoadProjectList(m_list, DataPath());
    ASSERT_EQ(3, m_list.GetCount());
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(bytes, ReadBytes(DataPath()));
    EXPECT_FALSE(Exists(DataPath() + ".bak"));
    EXPECT_TRUE(m_boxes.Boxes().empty());
}

TEST_F(ProjectStore, DamagedFileIsKeptAsBakBeforeTheFirstSave)
{
    std::string damaged = Magic() + Int32(3) + Int32(0) + Text("a") + std::string(4, '\0') + Text("b") +
                          std::string(4, '\0') + "\x09" "cut";
    ASSERT_TRUE(WriteBytes(DataPath(), damaged));
    LoadProjectList(m_list, DataPath());
    ASSERT_EQ(2, m_list.GetCount());
    EXPECT_EQ(-1, m_list.GetCurSel());

    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    std::string saved = Magic() + Int32(2) + Int32(-1) + Text("a") + std::string(4, '\0') + Text("b") + std::string(4, '\0');
    EXPECT_EQ(saved, ReadBytes(DataPath()));
    EXPECT_EQ(damaged, ReadBytes(DataPath() + ".bak"));

    // Later saves leave the kept copy alone.
    m_list.At(0)->name = "changed";
    EXPECT_TRUE(SaveProjectList(m_list, DataPath()));
    EXPECT_EQ(damaged, ReadBytes(DataPath() + ".bak"));
}

TEST_F(ProjectStore, LockedFileIsAnOpenFailureAndStaysAsItWas)
{
    std::string previous = Magic() + Int32(1) + Int32(0) + Text("old") + std::string(4, '\0');
    ASSERT_TRUE(WriteBytes(DataPath(), previous));
    LoadProjectList(m_list, DataPath());
    m_list.At(0)->name = "new";

    HANDLE other = CreateFileA(DataPath(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    m_boxes.Answer(IDOK);
    m_boxes.Answer(IDYES);
    m_boxes.Answer(IDOK);
    m_boxes.Answer(IDNO);
    CloseProjectList(m_list, DataPath());
    CloseHandle(other);

    std::vector<std::string> expected = {kOpenFailed, kRetry, kOpenFailed, kRetry};
    EXPECT_EQ(expected, m_boxes.Texts());
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), m_boxes.Boxes()[0].type);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), m_boxes.Boxes()[1].type);
    EXPECT_EQ(previous, ReadBytes(DataPath()));
    EXPECT_FALSE(AnyExists(DataPath() + ".*.tmp"));
    EXPECT_EQ(0, m_list.GetCount());
}

TEST_F(ProjectStore, ReadOnlyFileIsAnOpenFailure)
{
    ASSERT_TRUE(WriteBytes(DataPath(), kDefaultFile));
    ASSERT_TRUE(SetFileAttributesA(DataPath(), FILE_ATTRIBUTE_READONLY));
    LoadProjectList(m_list, DataPath());
    m_list.At(0)->name = "new";
    EXPECT_FALSE(SaveProjectList(m_list, DataPath()));
    SetFileAttributesA(DataPath(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(std::vector<std::string>{kOpenFailed}, m_boxes.Texts());
    EXPECT_EQ(kDefaultFile, ReadBytes(DataPath()));
}

TEST_F(ProjectStore, WriteErrorAsksToRetryAloneAndKeepsTheOldFile)
{
    ASSERT_TRUE(WriteBytes(DataPath(), kDefaultFile));
    LoadProjectList(m_list, DataPath());
    m_list.At(0)->name = "new";
    // The new content goes to a full disk.
    ASSERT_EQ(0u, RunUnix("ln -s /dev/full " + m_dir.UnixPath() + "/" + SaveTempName("project.dat")));
    m_boxes.Answer(IDNO);
    CloseProjectList(m_list, DataPath());
    EXPECT_EQ(std::vector<std::string>{kRetry}, m_boxes.Texts());
    // Wine cannot delete a link to a device, so the stand-in temporary file
    // stays; the full-disk fault cases check that a real one goes.
    EXPECT_EQ(kDefaultFile, ReadBytes(DataPath()));
}

TEST_F(ProjectStore, RetryAfterAWriteErrorSavesTheList)
{
    ASSERT_TRUE(WriteBytes(DataPath(), kDefaultFile));
    LoadProjectList(m_list, DataPath());
    m_list.At(0)->name = "new";
    CFile::SimulateDiskFull(".tmp", 20);
    // The hook lifts the limit once the question has been answered.
    struct Lift
    {
        static int Answer(HWND, LPCSTR, LPCSTR, UINT, UINT)
        {
            CFile::SimulateDiskFull(nullptr, 0);
            return IDYES;
        }
    };
    AfxMessageBoxHook recorder = AfxSetMessageBoxHook(&Lift::Answer);
    CloseProjectList(m_list, DataPath());
    AfxSetMessageBoxHook(recorder);
    EXPECT_EQ(Magic() + Int32(1) + Int32(0) + Text("new") + std::string(4, '\0'), ReadBytes(DataPath()));
}

TEST_F(ProjectStore, ClosingDeletesEveryProject)
{
    for (int i = 0; i < 3; i++)
        m_list.SetItemData(m_list.AddString("p"), reinterpret_cast<DWORD_PTR>(new CountedProject));
    m_list.AddString("no project");
    g_deleted = 0;
    CloseProjectList(m_list, DataPath());
    EXPECT_EQ(3, g_deleted);
    EXPECT_EQ(0, m_list.GetCount());
    EXPECT_EQ(-1, m_list.GetCurSel());
}

TEST_F(ProjectStore, PathIsInTheProgramFolder)
{
    EXPECT_EQ(GetProgramFolder() + "project.dat", GetProjectFilePath());
}
