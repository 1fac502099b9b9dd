#include "backup/Archiver.h"
#include "backup/BackupJob.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

typedef std::vector<std::string> Texts;

const char kSourceMissing[] = "ソースフォルダが存在しません。";
const char kAccessError[] = "ファイルアクセス中にエラーが発生しました。";
const char kSucceeded[] = "成功しました。";
const UINT kFailure = MB_OK | MB_ICONEXCLAMATION;

std::vector<std::string> g_commandLines;
int g_archiverResult = 0;

int WINAPI StandInArchiver(HWND owner, LPCSTR commandLine, LPSTR, DWORD size)
{
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), owner);
    EXPECT_EQ(1023u, size);
    g_commandLines.push_back(commandLine);
    return g_archiverResult;
}

int g_dialogs = 0;
const char* g_chosen = nullptr;
const char* g_dialogMovesTo = nullptr; // the real dialog may change the current folder

BOOL StandInSaveDialog(OPENFILENAMEA* ofn, BOOL open)
{
    g_dialogs++;
    EXPECT_FALSE(open);
    EXPECT_STREQ("D:\\バックアップ", ofn->lpstrInitialDir);
    EXPECT_STREQ("cab", ofn->lpstrDefExt);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), ofn->Flags);
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), ofn->hwndOwner);
    if (g_dialogMovesTo)
        SetCurrentDirectoryA(g_dialogMovesTo);
    if (g_chosen)
        lstrcpynA(ofn->lpstrFile, g_chosen, ofn->nMaxFile);
    return g_chosen != nullptr;
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
        g_commandLines.clear();
        g_archiverResult = 0;
        g_dialogs = 0;
        g_chosen = "Z:\\tmp\\out.cab";
        g_dialogMovesTo = nullptr;
        m_window.m_hWnd = reinterpret_cast<HWND>(0x4321);
        m_thread.m_pMainWnd = &m_window;
        m_source = m_sources / "src";
        ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/sub && touch " + m_sources.UnixPath() +
                              "/src/a.txt " + m_sources.UnixPath() + "/src/sub/b.h"));
        m_project.sourceFolder = m_source;
        m_project.backupFolder = "D:\\バックアップ";
        m_project.ignoredExtensions = "h";
    }
    void TearDown() override
    {
        CFileDialog::SetHook(m_previousDialog);
        OverrideArchiverCommand(nullptr);
        OverrideProgramFolder(nullptr);
    }

    CString ResponsePath() const { return m_program / "respons.txt"; }
    std::string CommandLine() const
    {
        return "-a \"Z:\\tmp\\out.cab\" \"" + std::string(m_source) + "\\\" \"@" + std::string(ResponsePath()) + "\"";
    }

    TempDir m_program, m_sources;
    CString m_source;
    CWinThread m_thread;
    MainWindow m_window;
    Project m_project;
    AfxFileDialogHook m_previousDialog = nullptr;
};

} // namespace

TEST_F(BackupRun, EachOutcomeAndItsMessage)
{
    ASSERT_TRUE(WriteBytes(m_sources / "file.txt", "x"));
    struct Case {
        const char* what;
        std::function<void()> setUp;
        bool result;
        Texts texts;
        UINT type;
        int dialogs, archiverCalls;
        const char* response;
    } cases[] = {
        {"success", [] {}, true, {kSucceeded}, MB_ICONINFORMATION, 1, 1, "\"a.txt\"\r\n"},
        {"source with a backslash", [&] { m_project.sourceFolder = m_source + "\\"; }, true, {kSucceeded},
         MB_ICONINFORMATION, 1, 1, "\"a.txt\"\r\n"},
        {"every file left out", [&] { m_project.ignoredExtensions = "txt, h"; }, true, {kSucceeded},
         MB_ICONINFORMATION, 1, 1, ""},
        {"archiver fails", [] { g_archiverResult = 3; }, false, {"キャビネットファイルの作成に失敗しました。"}, kFailure,
         1, 1, "\"a.txt\"\r\n"},
        {"no source", [&] { m_project.sourceFolder = ""; }, false, {"ソースフォルダが指定されていません。"}, kFailure, 0,
         0, "<missing>"},
        {"missing source", [&] { m_project.sourceFolder = "Z:\\tmp\\kv-core-no-such-folder"; }, false,
         {kSourceMissing}, kFailure, 0, 0, "<missing>"},
        {"file as source", [&] { m_project.sourceFolder = m_sources / "file.txt"; }, false, {kSourceMissing}, kFailure,
         0, 0, "<missing>"},
        {"no archiver library", [] { OverrideArchiverCommand(nullptr); }, false,
         {"アーカイバ CAB32.dll を読み込めませんでした。"}, kFailure, 0, 0, "<missing>"},
        {"dialog cancelled", [&] { g_chosen = nullptr; WriteBytes(ResponsePath(), "earlier"); }, false, {}, 0, 1, 0,
         "earlier"},
        {"response file cannot be created", [&] { CreateDirectoryA(ResponsePath(), nullptr); }, false,
         {"レスポンスファイルの作成に失敗"}, kFailure, 1, 0, "<missing>"},
        {"write fails at close",
         [&] { RunUnix("ln -s /dev/full " + m_program.UnixPath() + "/respons.txt"); }, false, {kAccessError},
         kFailure, 1, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.setUp();
        Project before = m_project;
        MessageBoxRecorder boxes;
        BackupJob job;
        EXPECT_EQ(c.result, job.Run(&m_project));
        EXPECT_EQ(c.texts, boxes.Texts());
        EXPECT_EQ(c.type, boxes.Boxes().empty() ? 0 : boxes.Boxes()[0].type);
        EXPECT_EQ(boxes.Boxes().empty() ? nullptr : m_window.m_hWnd, boxes.Boxes().empty() ? nullptr : boxes.Boxes()[0].owner);
        EXPECT_EQ(c.dialogs, g_dialogs);
        EXPECT_EQ(Texts(static_cast<size_t>(c.archiverCalls), CommandLine()), g_commandLines);
        EXPECT_EQ(c.response ? c.response : "", c.response ? ReadBytes(ResponsePath()) : "");
        EXPECT_EQ(before.sourceFolder, m_project.sourceFolder);
        EXPECT_EQ(before.ignoredExtensions, m_project.ignoredExtensions);
        TearDown();
        RunUnix("rm -rf " + m_program.UnixPath() + "/*");
    }
    g_dialogs = 0;
    MessageBoxRecorder boxes;
    BackupJob job;
    EXPECT_FALSE(job.Run(nullptr));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(0, g_dialogs);
}

TEST_F(BackupRun, RelativeSourceFolderIsResolvedBeforeTheDialogMovesTheCurrentFolder)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(m_sources.Path()));
    g_dialogMovesTo = m_program.Path();
    m_project.sourceFolder = "src";
    MessageBoxRecorder boxes;
    BackupJob job;
    bool result = job.Run(&m_project);
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(result);
    EXPECT_EQ(Texts{CommandLine()}, g_commandLines);
    EXPECT_EQ("\"a.txt\"\r\n", ReadBytes(ResponsePath()));
    EXPECT_EQ(CString("src"), m_project.sourceFolder);
}

TEST_F(BackupRun, UnlistableFoldersAreToldAfterTheOutcome)
{
    std::string folder = "/src/" + std::string(200, 'Q') + "/" + std::string(40, 'R');
    ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + folder + " && touch " + m_sources.UnixPath() + folder +
                          "/lost.c"));
    MessageBoxRecorder boxes;
    BackupJob job;
    EXPECT_FALSE(job.Run(&m_project));
    EXPECT_EQ(1u, g_commandLines.size());
    ASSERT_EQ(2u, boxes.Boxes().size());
    EXPECT_EQ(kSucceeded, boxes.Boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), boxes.Boxes()[1].type);
    EXPECT_EQ("読み取れなかったフォルダが 1 個あり、その中のファイルはバックアップされていません。\n" +
                  std::string(m_source) + "\\" + std::string(200, 'Q') + "\\" + std::string(40, 'R'),
              boxes.Boxes()[1].text);
}
