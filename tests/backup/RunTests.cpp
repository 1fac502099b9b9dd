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
const char* g_dialogMovesTo = nullptr;

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

} // namespace

// Every outcome of a run with a stand-in archiver and save dialog.
TEST(BackupRun, EachOutcomeAndItsMessage)
{
    TempDir program, sources;
    CString source = sources / "src", response = program / "respons.txt";
    std::string commandLine = "-a \"Z:\\tmp\\out.cab\" \"" + std::string(source) + "\\\" \"@" + std::string(response) + "\"";
    CWinThread thread;
    MainWindow window;
    window.m_hWnd = reinterpret_cast<HWND>(0x4321);
    thread.m_pMainWnd = &window;
    Project project;
    OverrideProgramFolder(program.Path());
    AfxFileDialogHook previousDialog = CFileDialog::SetHook(&StandInSaveDialog);
    ASSERT_TRUE(WriteBytes(sources / "file.txt", "x"));
    std::string unlistable = "/src/" + std::string(200, 'Q') + "/" + std::string(40, 'R');
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    const char* a = "\"a.txt\"\r\n";
    struct Case {
        const char* what;
        std::function<void()> setUp;
        bool result;
        Texts texts;
        UINT lastType;
        int dialogs, archiverCalls;
        const char* response; // null: not read
    } cases[] = {
        {"success", [] {}, true, {kSucceeded}, MB_ICONINFORMATION, 1, 1, a},
        {"source with a backslash", [&] { project.sourceFolder = source + "\\"; }, true, {kSucceeded},
         MB_ICONINFORMATION, 1, 1, a},
        // The save dialog may change the current folder.
        {"relative source",
         [&] { SetCurrentDirectoryA(sources.Path()), project.sourceFolder = "src", g_dialogMovesTo = program.Path(); },
         true, {kSucceeded}, MB_ICONINFORMATION, 1, 1, a},
        {"every file left out", [&] { project.ignoredExtensions = "txt, h"; }, true, {kSucceeded},
         MB_ICONINFORMATION, 1, 1, ""},
        {"unlistable folder",
         [&] { RunUnix("mkdir -p " + sources.UnixPath() + unlistable + " && touch " + sources.UnixPath() + unlistable + "/c"); },
         false, {kSucceeded, "読み取れなかったフォルダが 1 個あり、その中のファイルはバックアップされていません。\n" +
                                 std::string(source) + "\\" + std::string(200, 'Q') + "\\" + std::string(40, 'R')},
         MB_OK | MB_ICONWARNING, 1, 1, a},
        {"archiver fails", [] { g_archiverResult = 3; }, false, {"キャビネットファイルの作成に失敗しました。"}, kFailure,
         1, 1, a},
        {"no source", [&] { project.sourceFolder = ""; }, false, {"ソースフォルダが指定されていません。"}, kFailure, 0,
         0, "<missing>"},
        {"missing source", [&] { project.sourceFolder = "Z:\\tmp\\kv-core-no-such-folder"; }, false,
         {kSourceMissing}, kFailure, 0, 0, "<missing>"},
        {"file as source", [&] { project.sourceFolder = sources / "file.txt"; }, false, {kSourceMissing}, kFailure,
         0, 0, "<missing>"},
        {"no archiver library", [] { OverrideArchiverCommand(nullptr); }, false,
         {"アーカイバ CAB32.dll を読み込めませんでした。"}, kFailure, 0, 0, "<missing>"},
        {"dialog cancelled", [&] { g_chosen = nullptr, WriteBytes(response, "earlier"); }, false, {}, 0, 1, 0,
         "earlier"},
        {"response file cannot be created", [&] { CreateDirectoryA(response, nullptr); }, false,
         {"レスポンスファイルの作成に失敗"}, kFailure, 1, 0, "<missing>"},
        {"write fails at close", [&] { RunUnix("ln -s /dev/full " + program.UnixPath() + "/respons.txt"); }, false,
         {"ファイルアクセス中にエラーが発生しました。"}, kFailure, 1, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0u, RunUnix("rm -rf " + program.UnixPath() + "/* && cd " + sources.UnixPath() +
                              " && rm -rf src && mkdir -p src/sub && touch src/a.txt src/sub/b.h"));
        OverrideArchiverCommand(&StandInArchiver);
        g_commandLines.clear();
        g_archiverResult = g_dialogs = 0;
        g_chosen = "Z:\\tmp\\out.cab";
        g_dialogMovesTo = nullptr;
        project.sourceFolder = source;
        project.backupFolder = "D:\\バックアップ";
        project.ignoredExtensions = "h";
        c.setUp();
        Project before = project;
        MessageBoxRecorder boxes;
        BackupJob job;
        EXPECT_EQ(c.result, job.Run(&project));
        SetCurrentDirectoryA(previous);
        EXPECT_EQ(c.texts, boxes.Texts());
        EXPECT_EQ(c.lastType, boxes.Boxes().empty() ? 0 : boxes.Boxes().back().type);
        EXPECT_EQ(boxes.Boxes().empty() ? nullptr : window.m_hWnd, boxes.Boxes().empty() ? nullptr : boxes.Boxes()[0].owner);
        EXPECT_EQ(c.dialogs, g_dialogs);
        EXPECT_EQ(Texts(static_cast<size_t>(c.archiverCalls), commandLine), g_commandLines);
        EXPECT_EQ(c.response ? c.response : "", c.response ? ReadBytes(response) : "");
        EXPECT_TRUE(before.sourceFolder == project.sourceFolder && before.ignoredExtensions == project.ignoredExtensions);
    }
    g_dialogs = 0;
    MessageBoxRecorder boxes;
    BackupJob job;
    EXPECT_FALSE(job.Run(nullptr));
    EXPECT_TRUE(boxes.Boxes().empty() && g_dialogs == 0);
    CFileDialog::SetHook(previousDialog);
    OverrideArchiverCommand(nullptr);
    OverrideProgramFolder(nullptr);
}
