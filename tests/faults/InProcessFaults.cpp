// Faults met by the project store and the backup run inside this process, on
// the real file system: a disk that fills up, files held by another process,
// a folder that vanishes during the walk, a path past MAX_PATH. The archiver is
// the real CAB32.dll; only the save dialog and the message boxes are answered
// by the test.
#include "backup/Archiver.h"
#include "backup/BackupJob.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"
#include "project/ProjectStore.h"
#include "tests/faults/FaultSupport.h"
#include "tests/project/MemoryProjectList.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace faults;
using testing_support::Exists;
using testing_support::MessageBoxRecorder;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

typedef std::vector<std::string> Texts;

const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";
const char kAccessError[] = "ファイルアクセス中にエラーが発生しました。";
const char kCabinetFailed[] = "キャビネットファイルの作成に失敗しました。";
const char kSucceeded[] = "成功しました。";
const char kSourceMissing[] = "ソースフォルダが存在しません。";
const char kUnlisted[] = "読み取れなかったフォルダが";

#define SKIP_UNLESS_MOUNTED(disk) \
    if (!(disk).Mounted())        \
    GTEST_SKIP() << "a small tmpfs could not be mounted (mount needs root): the full-disk case was not run"

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

class MainWindow : public CWnd
{
};

// Does something the first time a box with the given text is shown (what a
// user does before answering it), then lets the recorder underneath answer it.
class WhenShown
{
public:
    WhenShown(const char* text, std::function<void()> action) : m_next(AfxSetMessageBoxHook(&Hook))
    {
        Text() = text;
        Action() = std::move(action);
        Next() = m_next;
    }
    WhenShown(const WhenShown&) = delete;
    WhenShown& operator=(const WhenShown&) = delete;
    ~WhenShown()
    {
        AfxSetMessageBoxHook(m_next);
        Action() = nullptr;
    }

private:
    static std::string& Text()
    {
        static std::string text;
        return text;
    }
    static std::function<void()>& Action()
    {
        static std::function<void()> action;
        return action;
    }
    static AfxMessageBoxHook& Next()
    {
        static AfxMessageBoxHook next = nullptr;
        return next;
    }
    static int Hook(HWND owner, LPCSTR text, LPCSTR caption, UINT type, UINT help)
    {
        if (Action() && Text() == text) {
            std::function<void()> action = std::move(Action());
            Action() = nullptr;
            action();
        }
        return Next()(owner, text, caption, type, help);
    }

    AfxMessageBoxHook m_next;
};

// The project store on the real file system, with a second process where one
// is needed.
class InProcessStore : public ::testing::Test
{
protected:
    MessageBoxRecorder m_boxes;
    MemoryProjectList m_list;
};

// A backup run with the real archiver; the save dialog answers m_cabinet.
class InProcessBackup : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        HMODULE library = LoadLibraryA((BinFolder() + "CAB32.dll").c_str());
        s_archiver = library ? reinterpret_cast<ArchiverCommand>(
                                   reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))))
                             : nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, s_archiver) << "CAB32.dll beside the test";
        OverrideArchiverCommand(s_archiver);
        UseProgramFolder(m_program.Path());
        m_previousDialog = CFileDialog::SetHook(&Choose);
        m_window.m_hWnd = nullptr;
        m_thread.m_pMainWnd = &m_window;
        s_cabinet = std::string(m_out / "backup.cab");
        ASSERT_TRUE(WriteBytes(s_cabinet.c_str(), "old cabinet"));
        m_project.sourceFolder = m_sources / "src";
        ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/sub && head -c 30000 /dev/urandom > " +
                              m_sources.UnixPath() + "/src/a.bin && echo text > " + m_sources.UnixPath() +
                              "/src/sub/b.txt"));
    }

    void TearDown() override
    {
        CFileDialog::SetHook(m_previousDialog);
        OverrideArchiverCommand(nullptr);
        OverrideProgramFolder(nullptr);
    }

    void UseProgramFolder(const CString& folder)
    {
        m_programFolder = folder;
        OverrideProgramFolder(m_programFolder);
    }

    bool Run()
    {
        BackupJob job;
        return job.Run(&m_project);
    }

    static BOOL Choose(OPENFILENAMEA* ofn, BOOL)
    {
        lstrcpynA(ofn->lpstrFile, s_cabinet.c_str(), ofn->nMaxFile);
        return TRUE;
    }

    static ArchiverCommand s_archiver;
    static std::string s_cabinet;

    TempDir m_program;
    TempDir m_sources;
    TempDir m_out;
    CString m_programFolder;
    CWinThread m_thread;
    MainWindow m_window;
    MessageBoxRecorder m_boxes;
    Project m_project;
    AfxFileDialogHook m_previousDialog = nullptr;
};

ArchiverCommand InProcessBackup::s_archiver = nullptr;
std::string InProcessBackup::s_cabinet;

} // namespace

TEST_F(InProcessStore, FullDiskKeepsThePreviousFileAndTheRetryAfterFreeingSpaceSaves)
{
    SmallDisk disk("64k");
    SKIP_UNLESS_MOUNTED(disk);
    CString path = (disk.Path() + "project.dat").c_str();
    ASSERT_TRUE(WriteBytes(path, ProjectFile("before")));
    LoadProjectList(m_list, path);
    ASSERT_EQ(1, m_list.GetCount());
    m_list.At(0)->name = "after";
    ASSERT_TRUE(disk.Fill());

    // The first question is asked with the disk still full: No keeps the old file.
    EXPECT_FALSE(SaveProjectList(m_list, path));
    EXPECT_TRUE(m_boxes.Boxes().empty()) << "a write error shows no message of its own";
    EXPECT_EQ(ProjectFile("before"), ReadBytes(path));
    EXPECT_FALSE(Exists(path + ".tmp"));

    // The user frees space, then answers Yes.
    m_boxes.Answer(IDYES);
    {
        WhenShown user(kRetry, [&disk] { disk.Free(); });
        CloseProjectList(m_list, path);
    }
    EXPECT_EQ(Texts{kRetry}, m_boxes.Texts());
    EXPECT_EQ(ProjectFile("after"), ReadBytes(path));
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST_F(InProcessStore, FileLockedByAnotherProcessAtStartIsKeptWhenTheListReplacesIt)
{
    TempDir dir;
    CString path = dir / "project.dat";
    ASSERT_TRUE(WriteBytes(path, ProjectFile("mine")));
    {
        FileLock other{std::string(path)};
        ASSERT_TRUE(other.Held());
        LoadProjectList(m_list, path);
    }
    ASSERT_EQ(1, m_list.GetCount());
    EXPECT_EQ("名称未設定", m_list.Text(0)) << "an unreadable file gives the default project";
    EXPECT_TRUE(m_boxes.Boxes().empty());

    // The other program has let go; the list as loaded replaces the file, and
    // the projects that could not be read must not be lost with it.
    EXPECT_TRUE(SaveProjectList(m_list, path));
    EXPECT_EQ(ProjectFile("名称未設定"), ReadBytes(path));
    EXPECT_EQ(ProjectFile("mine"), ReadBytes(path + ".bak"));
}

TEST_F(InProcessStore, FileLockedOrReadOnlyAtCloseStaysAsItWasUntilTheRetrySucceeds)
{
    TempDir dir;
    CString path = dir / "project.dat";
    ASSERT_TRUE(WriteBytes(path, ProjectFile("before")));
    ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
    LoadProjectList(m_list, path);
    ASSERT_EQ(1, m_list.GetCount());
    EXPECT_EQ("before", m_list.Text(0)) << "a read-only file can still be read";
    m_list.At(0)->name = "after";

    // Read-only: the save cannot open the file, which stays as it was.
    EXPECT_FALSE(SaveProjectList(m_list, path));
    EXPECT_EQ(Texts{kOpenFailed}, m_boxes.Texts());
    EXPECT_EQ(ProjectFile("before"), ReadBytes(path));
    ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL));

    // Locked by another program: the user lets the other program close the
    // file while the question is shown, and answers Yes.
    FileLock other{std::string(path)};
    ASSERT_TRUE(other.Held());
    m_boxes.Answer(IDOK);
    m_boxes.Answer(IDYES);
    {
        WhenShown user(kRetry, [&other] { other.Release(); });
        CloseProjectList(m_list, path);
    }
    EXPECT_EQ((Texts{kOpenFailed, kOpenFailed, kRetry}), m_boxes.Texts());
    EXPECT_EQ(ProjectFile("after"), ReadBytes(path));
    EXPECT_FALSE(Exists(path + ".tmp"));
}

TEST_F(InProcessBackup, FullDiskWhileTheCabinetIsWrittenLeavesNoPartOfItAndKeepsTheOldOne)
{
    SmallDisk disk("256k");
    SKIP_UNLESS_MOUNTED(disk);
    s_cabinet = disk.Path() + "backup.cab";
    ASSERT_TRUE(WriteBytes(s_cabinet.c_str(), "old cabinet"));
    ASSERT_TRUE(disk.Fill());

    EXPECT_FALSE(Run());
    EXPECT_EQ(Texts{kCabinetFailed}, m_boxes.Texts());
    EXPECT_EQ("old cabinet", ReadBytes(s_cabinet.c_str()));
    EXPECT_EQ((Texts{".filler", "backup.cab"}), Names(disk.Path()));

    // With the space back, the same run replaces the cabinet.
    disk.Free();
    EXPECT_TRUE(Run());
    EXPECT_TRUE(StartsWith(ReadBytes(s_cabinet.c_str()), "MSCF"));
    EXPECT_EQ(Texts{"backup.cab"}, Names(disk.Path()));
}

TEST_F(InProcessBackup, FullDiskWhileTheResponseFileIsWrittenStopsBeforeTheArchiver)
{
    SmallDisk disk("64k");
    SKIP_UNLESS_MOUNTED(disk);
    UseProgramFolder(disk.Path().c_str());
    ASSERT_TRUE(disk.Fill());

    EXPECT_FALSE(Run());
    EXPECT_EQ(Texts{kAccessError}, m_boxes.Texts());
    EXPECT_EQ("old cabinet", ReadBytes(s_cabinet.c_str()));
    EXPECT_EQ(Texts{"backup.cab"}, Names(std::string(m_out.Path())));
}

TEST_F(InProcessBackup, SourceFileLockedByAnotherProcessFailsTheRunAndKeepsTheOldCabinet)
{
    FileLock other{std::string(m_sources / "src\\a.bin")};
    ASSERT_TRUE(other.Held());
    EXPECT_FALSE(Run());
    other.Release();
    EXPECT_EQ(Texts{kCabinetFailed}, m_boxes.Texts());
    EXPECT_EQ("old cabinet", ReadBytes(s_cabinet.c_str()));
    EXPECT_EQ(Texts{"backup.cab"}, Names(std::string(m_out.Path())));
}

// The response file that takes a folder away while the walk writes its
// first line, and goes on as the real one.
class VanishingResponse : public CStdioFile
{
public:
    explicit VanishingResponse(std::string command) : m_command(std::move(command)) {}
    void WriteString(LPCSTR text) override
    {
        if (!m_command.empty())
            RunUnix(m_command);
        m_command.clear();
        CStdioFile::WriteString(text);
    }

private:
    std::string m_command;
};

TEST_F(InProcessBackup, SourceFolderThatVanishesDuringTheWalkIsSkippedAndRecorded)
{
    std::string src = m_sources.UnixPath() + "/src";
    ASSERT_EQ(0u, RunUnix("rm -rf " + src + " && mkdir " + src));
    VanishingTree tree = MakeVanishingTree(src, std::string(m_project.sourceFolder), 50);
    ASSERT_FALSE(tree.vanishing.empty());
    VanishingResponse response("mv " + src + "/" + tree.vanishing + " " + m_sources.UnixPath() + "/gone");
    ASSERT_TRUE(response.Open(m_program / "respons.txt", CFile::modeCreate | CFile::modeWrite));

    BackupJob job;
    job.m_pProject = &m_project;
    job.PrepareIgnoreLists();
    job.CollectFiles(&response, m_project.sourceFolder);
    response.Close();

    ASSERT_EQ(1, job.m_arrSkippedFolders.GetSize());
    EXPECT_EQ(m_project.sourceFolder + "\\" + tree.vanishing.c_str(), job.m_arrSkippedFolders[0]);
    std::string lines = ReadBytes(m_program / "respons.txt");
    EXPECT_EQ(std::string::npos, lines.find("late.c"));
    EXPECT_NE(std::string::npos, lines.find("\"" + tree.walkedFirst + "\\file_with_a_long_name_50.c\""));
}

TEST_F(InProcessBackup, SourceFolderPastMaxPathIsReportedAndNothingIsTouched)
{
    std::string deep = m_sources.UnixPath() + "/src/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    ASSERT_EQ(0u, RunUnix("mkdir -p " + deep + " && echo x > " + deep + "/f.txt"));
    m_project.sourceFolder = m_sources / "src\\";
    m_project.sourceFolder += std::string(120, 'd').c_str();
    m_project.sourceFolder += "\\";
    m_project.sourceFolder += std::string(120, 'e').c_str();
    ASSERT_GT(m_project.sourceFolder.GetLength(), MAX_PATH);

    EXPECT_FALSE(Run());
    EXPECT_EQ(Texts{kSourceMissing}, m_boxes.Texts());
    EXPECT_FALSE(Exists(m_program / "respons.txt"));
    EXPECT_EQ("old cabinet", ReadBytes(s_cabinet.c_str()));
}
