#include "backup/Archiver.h"
#include "backup/BackupJob.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

typedef std::vector<std::string> Texts;

const char kNoSource[] = "ソースフォルダが指定されていません。";
const char kSourceMissing[] = "ソースフォルダが存在しません。";
const char kResponseFailed[] = "レスポンスファイルの作成に失敗";
const char kAccessError[] = "ファイルアクセス中にエラーが発生しました。";
const char kCabinetFailed[] = "キャビネットファイルの作成に失敗しました。";
const char kSucceeded[] = "成功しました。";
const char kNoArchiver[] = "アーカイバ CAB32.dll を読み込めませんでした。";

struct ArchiverCall
{
    int calls;
    HWND owner;
    std::string commandLine;
    DWORD size;
};
ArchiverCall g_archiver;
int g_archiverResult = 0;

int WINAPI StandInArchiver(HWND owner, LPCSTR commandLine, LPSTR, DWORD size)
{
    g_archiver.calls++;
    g_archiver.owner = owner;
    g_archiver.commandLine = commandLine;
    g_archiver.size = size;
    return g_archiverResult;
}

struct DialogSeen
{
    int shown;
    std::string initialDir;
    std::string defExt;
    DWORD flags;
    HWND owner;
};
DialogSeen g_dialog;
const char* g_chosen = nullptr;
const char* g_dialogMovesTo = nullptr; // the real dialog may change the current folder

BOOL StandInSaveDialog(OPENFILENAMEA* ofn, BOOL)
{
    g_dialog.shown++;
    g_dialog.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "<null>";
    g_dialog.defExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : "<null>";
    g_dialog.flags = ofn->Flags;
    g_dialog.owner = ofn->hwndOwner;
    if (g_dialogMovesTo)
        SetCurrentDirectoryA(g_dialogMovesTo);
    if (!g_chosen)
        return FALSE;
    lstrcpynA(ofn->lpstrFile, g_chosen, ofn->nMaxFile);
    return TRUE;
}

class MainWindow : public CWnd
{
};

class BackupRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OverrideProgramFolder(m_program.Path());
        OverrideArchiverCommand(&StandInArchiver);
        m_previousDialog = CFileDialog::SetHook(&StandInSaveDialog);
        g_archiver = ArchiverCall{0, nullptr, "", 0};
        g_archiverResult = 0;
        g_dialog = DialogSeen{0, "", "", 0, nullptr};
        g_chosen = "Z:\\tmp\\out.cab";
        g_dialogMovesTo = nullptr;
        m_window.m_hWnd = reinterpret_cast<HWND>(0x4321);
        m_thread.m_pMainWnd = &m_window;

        m_source = m_sources / "src";
        ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/sub && touch " + m_sources.UnixPath() +
                              "/src/a.txt " + m_sources.UnixPath() + "/src/sub/b.h"));
        m_project.name = "p";
        m_project.sourceFolder = m_source;
        m_project.backupFolder = "D:\\バックアップ";
        m_project.ignoredExtensions = "h";
    }

    void TearDown() override
    {
        CFile::SimulateDiskFull(nullptr, 0);
        CFileDialog::SetHook(m_previousDialog);
        OverrideArchiverCommand(nullptr);
        OverrideProgramFolder(nullptr);
    }

    CString ResponsePath() const { return m_program / "respons.txt"; }
    std::string ExpectedCommandLine() const
    {
        return "-a \"Z:\\tmp\\out.cab\" \"" + std::string(m_source) + "\\\" \"@" + std::string(ResponsePath()) + "\"";
    }

    TempDir m_program;
    TempDir m_sources;
    CString m_source;
    CWinThread m_thread;
    MainWindow m_window;
    MessageBoxRecorder m_boxes;
    Project m_project;
    AfxFileDialogHook m_previousDialog = nullptr;
};

} // namespace

TEST_F(BackupRun, NoProjectDoesNothingAtAll)
{
    BackupJob job;
    EXPECT_FALSE(job.Run(nullptr));
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_EQ(0, g_dialog.shown);
    EXPECT_FALSE(Exists(ResponsePath()));
}

TEST_F(BackupRun, SourceFolderChecksComeBeforeTheDialog)
{
    const char* folders[] = {"", "Z:\\tmp\\kv-core-no-such-folder", nullptr};
    ASSERT_TRUE(WriteBytes(m_sources / "file.txt", "x"));
    CString file = m_sources / "file.txt";
    folders[2] = file;
    for (const char* folder : folders) {
        m_project.sourceFolder = folder;
        BackupJob job;
        EXPECT_FALSE(job.Run(&m_project)) << folder;
    }
    EXPECT_EQ((Texts{kNoSource, kSourceMissing, kSourceMissing}), m_boxes.Texts());
    for (const ShownBox& box : m_boxes.Boxes())
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.type);
    EXPECT_EQ(0, g_dialog.shown);
    EXPECT_EQ(0, g_archiver.calls);
}

TEST_F(BackupRun, SuccessfulRunCallsTheArchiverWithTheCommandLine)
{
    Project before = m_project;
    for (CString source : {m_source, m_source + "\\"}) {
        m_project.sourceFolder = source;
        BackupJob job;
        EXPECT_TRUE(job.Run(&m_project));
        EXPECT_EQ(ExpectedCommandLine(), g_archiver.commandLine);
    }
    EXPECT_EQ(2, g_archiver.calls);
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), g_archiver.owner);
    EXPECT_EQ(1023u, g_archiver.size);
    EXPECT_EQ("\"a.txt\"\r\n", ReadBytes(ResponsePath()));

    EXPECT_EQ(2, g_dialog.shown);
    EXPECT_EQ("D:\\バックアップ", g_dialog.initialDir);
    EXPECT_EQ("cab", g_dialog.defExt);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), g_dialog.flags);
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), g_dialog.owner);

    ASSERT_EQ((Texts{kSucceeded, kSucceeded}), m_boxes.Texts());
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), m_boxes.Boxes()[0].type);
    EXPECT_EQ(before.backupFolder, m_project.backupFolder);
    EXPECT_EQ(before.ignoredExtensions, m_project.ignoredExtensions);
}

TEST_F(BackupRun, RelativeSourceFolderIsTakenBeforeTheDialogMovesTheCurrentFolder)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(m_sources.Path()));
    g_dialogMovesTo = m_program.Path();
    m_project.sourceFolder = "src";
    BackupJob job;
    bool result = job.Run(&m_project);
    SetCurrentDirectoryA(previous);

    EXPECT_TRUE(result);
    EXPECT_EQ(ExpectedCommandLine(), g_archiver.commandLine);
    EXPECT_EQ("\"a.txt\"\r\n", ReadBytes(ResponsePath()));
    EXPECT_EQ(CString("src"), m_project.sourceFolder);
}

TEST_F(BackupRun, ArchiverFailureIsReported)
{
    g_archiverResult = 3;
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(Texts{kCabinetFailed}, m_boxes.Texts());
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), m_boxes.Boxes()[0].type);
    EXPECT_EQ("\"a.txt\"\r\n", ReadBytes(ResponsePath()));
}

TEST_F(BackupRun, CancelledDialogLeavesAnEarlierResponseFileUntouched)
{
    ASSERT_TRUE(WriteBytes(ResponsePath(), "\"earlier\"\r\n"));
    g_chosen = nullptr;
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_TRUE(m_boxes.Boxes().empty());
    EXPECT_EQ("\"earlier\"\r\n", ReadBytes(ResponsePath()));
    EXPECT_EQ(0, g_archiver.calls);
}

TEST_F(BackupRun, ResponseFileThatCannotBeCreated)
{
    ASSERT_TRUE(CreateDirectoryA(ResponsePath(), nullptr));
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(Texts{kResponseFailed}, m_boxes.Texts());
    EXPECT_EQ(0, g_archiver.calls);
}

TEST_F(BackupRun, EveryFileLeftOutStillCallsTheArchiver)
{
    m_project.ignoredExtensions = "txt, h";
    BackupJob job;
    EXPECT_TRUE(job.Run(&m_project));
    EXPECT_EQ("", ReadBytes(ResponsePath()));
    EXPECT_EQ(1, g_archiver.calls);
    EXPECT_EQ(Texts{kSucceeded}, m_boxes.Texts());
}

TEST_F(BackupRun, WriteFailureDuringTheWalkKeepsThePartialFileAndSkipsTheArchiver)
{
    // 300 lines of 40 bytes: the buffer is written out during the walk.
    ASSERT_EQ(0u, RunUnix("cd " + m_sources.UnixPath() + "/src && for i in $(seq 1 300); do touch "
                          "a_file_with_a_rather_long_name_$i.c; done"));
    CFile::SimulateDiskFull("respons.txt", 100);
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(Texts{kAccessError}, m_boxes.Texts());
    EXPECT_EQ(0, g_archiver.calls);
    std::string partial = ReadBytes(ResponsePath());
    EXPECT_EQ(100u, partial.size());
    EXPECT_EQ('"', partial[0]);
}

TEST_F(BackupRun, WriteFailureWhenTheResponseFileIsClosedSkipsTheArchiver)
{
    ASSERT_EQ(0u, RunUnix("ln -s /dev/full " + m_program.UnixPath() + "/respons.txt"));
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(Texts{kAccessError}, m_boxes.Texts());
    EXPECT_EQ(0, g_archiver.calls);
}

TEST_F(BackupRun, MissingArchiverLibraryIsReportedBeforeTheDialog)
{
    OverrideArchiverCommand(nullptr);
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(Texts{kNoArchiver}, m_boxes.Texts());
    EXPECT_EQ(0, g_dialog.shown);
}

TEST_F(BackupRun, ArchiverLibraryIsLoadedFromTheProgramFolder)
{
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string standIn(exe);
    standIn.erase(standIn.rfind('\\') + 1);
    standIn += "standin_cab32.dll";
    ASSERT_TRUE(CopyFileA(standIn.c_str(), m_program / "CAB32.dll", FALSE));
    OverrideArchiverCommand(nullptr);

    BackupJob job;
    EXPECT_TRUE(job.Run(&m_project));
    EXPECT_EQ(Texts{kSucceeded}, m_boxes.Texts());
    char owner[32];
    std::snprintf(owner, sizeof(owner), "%p", reinterpret_cast<void*>(0x4321));
    EXPECT_EQ(std::string(owner) + "|1023|" + ExpectedCommandLine(), ReadBytes(m_program / "archiver-call.txt"));
}

TEST_F(BackupRun, UnlistableFoldersAreToldAfterTheOutcome)
{
    std::string listable(200, 'Q'), unlistable(40, 'R');
    ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/" + listable + "/" + unlistable + " && touch " +
                          m_sources.UnixPath() + "/src/" + listable + "/" + unlistable + "/lost.c"));
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(1, g_archiver.calls);
    ASSERT_EQ(2u, m_boxes.Boxes().size());
    EXPECT_EQ(kSucceeded, m_boxes.Boxes()[0].text);
    const ShownBox& warning = m_boxes.Boxes()[1];
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), warning.type);
    EXPECT_NE(std::string::npos, warning.text.find(" 1 "));
    EXPECT_NE(std::string::npos, warning.text.find(std::string(m_source) + "\\" + listable + "\\" + unlistable));
}
