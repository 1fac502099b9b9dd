#include "backup/ArchiverLibrary.h"
#include "backup/BackupJob.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

using namespace testing_support;

typedef std::vector<std::string> Texts;

const char kSucceeded[] = "成功しました。";
const UINT kFailure = MB_OK | MB_ICONEXCLAMATION;

static std::vector<std::string> g_commandLines;
static int g_archiverResult = 0;

static int WINAPI StandInArchiver(HWND owner, LPCSTR commandLine, LPSTR, DWORD size)
{
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), owner);
    EXPECT_EQ(1023u, size);
    g_commandLines.push_back(commandLine);
    return g_archiverResult;
}

static int g_dialogs = 0;
static const char* g_chosen = nullptr;
static const char* g_dialogMovesTo = nullptr;

// The save dialog works in UTF-16: what it is given, and what it gives back, is converted from and to the code page.
static BOOL StandInSaveDialog(OPENFILENAMEW* ofn, BOOL open)
{
    g_dialogs++;
    EXPECT_FALSE(open);
    EXPECT_EQ("D:\\バックアップ", FromWide(ofn->lpstrInitialDir, CP_ACP));
    EXPECT_EQ("cab", FromWide(ofn->lpstrDefExt, CP_ACP));
    std::string filter;
    for (LPCWSTR item = ofn->lpstrFilter; item && *item; item += lstrlenW(item) + 1)
        filter += FromWide(item, CP_ACP) + "|";
    EXPECT_EQ("キャビネットファイル(*.cab)|*.cab|", filter);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), ofn->Flags);
    EXPECT_EQ(reinterpret_cast<HWND>(0x4321), ofn->hwndOwner);
    if (g_dialogMovesTo)
        SetCurrentDirectoryA(g_dialogMovesTo);
    if (g_chosen)
        lstrcpynW(ofn->lpstrFile, ToWide(g_chosen, CP_ACP).c_str(), ofn->nMaxFile);
    return g_chosen != nullptr;
}

// The lines of a response file in byte order, for a listing whose order is the file system's own.
static std::string Sorted(const std::string& text)
{
    Texts lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end + 2 - start));
    std::sort(lines.begin(), lines.end());
    return std::accumulate(lines.begin(), lines.end(), std::string()) + text.substr(start);
}

// The response file with each line's path turned into the true name it
// opens (GetLongPathNameW), in UTF-8.
static std::string TrueNames(const std::string& text, const CString& source)
{
    const std::wstring root = ToWide(std::string(source) + "\\", CP_ACP);
    std::string out;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::wstring full = root + ToWide(text.substr(start + 1, end - start - 2), CP_ACP);
        wchar_t resolved[1024] = L"";
        DWORD n = GetLongPathNameW(full.c_str(), resolved, 1024);
        std::wstring name(resolved, n < 1024 ? n : 0);
        name = name.compare(0, root.size(), root) == 0 ? name.substr(root.size()) : L"<cannot open>";
        out += "\"" + FromWide(name, CP_UTF8) + "\"\r\n";
    }
    return out + text.substr(start);
}

// Every outcome of a run with a stand-in archiver and save dialog, over a tree
// with hidden, dot-named, double-byte (表 ends in byte 0x5C), past-MAX_PATH and
// ignored (any case, any depth) entries; names past 255 bytes and files too
// large to store are left out and named.
TEST(BackupRun, EachOutcomeAndItsMessage)
{
    TempDir program, sources;
    CString source = sources / "src表", response = program / "respons.txt";
    std::string commandLine =
        "-a \"Z:\\tmp\\out.cab\" \"" + std::string(source) + "\\\" \"@" + std::string(response) + "\"";
    // PPP…\fff….txt takes 255 bytes, the most a stored name may: its full path passes MAX_PATH.
    std::string longFolder(130, 'P'), longFile = std::string(120, 'f') + ".txt";
    std::string deep = std::string(200, 'Q') + "\\" + std::string(40, 'R');
    std::string deepUnix = sources.UnixPath() + "/src表/" + std::string(200, 'Q') + "/" + std::string(40, 'R');
    std::string tooLong = longFolder + "\\" + std::string(121, 'g') + ".txt", tooDeep(254, 'H');
    const std::string cafe = "caf\xC3\xA9.md",
                      umlaut = "\xC3\x9C"
                               "ber.txt",
                      korean = "\xED\x95\x9C\xEA\xB5\xAD", smile = "smile\xF0\x9F\x98\x80.txt";
    // Depth first in listing order, which Wine sorts without regard to case: the folder PPP… stands
    // between the files Makefile and 表.txt.
    const std::string all = "\"a.txt\"\r\n\"hidden.txt\"\r\n\"Makefile\"\r\n\"" + longFolder + "\\" + longFile +
                            "\"\r\n\"sub\\util.h\"\r\n\"sub\\表\\中.txt\"\r\n\"表.txt\"\r\n";
    CWinThread thread;
    CWnd window;
    window.m_hWnd = reinterpret_cast<HWND>(0x4321);
    thread.m_pMainWnd = &window;
    Project project, *target = nullptr;
    OverrideProgramFolder(program.Path());
    AfxFileDialogHook previousDialog = CFileDialog::SetHook(&StandInSaveDialog);
    ASSERT_TRUE(WriteBytes(sources / "file.txt", "x"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    struct Case
    {
        const char* what;
        std::function<void()> setUp;
        bool result;
        Texts texts;   // of the boxes shown
        UINT lastType; // of the last box
        int dialogs, archiverCalls;
        std::string response;   // empty: not read
        bool trueNames = false; // response holds the true names, in UTF-8
    } cases[] = {
        {"no project", [&] { target = nullptr; }, false, {}, 0, 0, 0, "<missing>"},
        {"success", [] {}, true, {kSucceeded}, MB_ICONINFORMATION, 1, 1, all},
        {"source with a backslash",
         [&] { project.sourceFolder = source + "\\"; },
         true,
         {kSucceeded},
         MB_ICONINFORMATION,
         1,
         1,
         all},
        // The save dialog may change the current folder.
        {"relative source",
         [&] {
             SetCurrentDirectoryA(sources.Path()), project.sourceFolder = "src表", g_dialogMovesTo = program.Path();
         },
         true,
         {kSucceeded},
         MB_ICONINFORMATION,
         1,
         1,
         all},
        {"source from the root of the current drive",
         [&] { SetCurrentDirectoryA(sources.Path()), project.sourceFolder = source.Mid(2), g_dialogMovesTo = "C:\\"; },
         true,
         {kSucceeded},
         MB_ICONINFORMATION,
         1,
         1,
         all},
        {"source relative on its drive",
         [&] {
             SetCurrentDirectoryA(sources.Path()), project.sourceFolder = "Z:src表", g_dialogMovesTo = program.Path();
         },
         true,
         {kSucceeded},
         MB_ICONINFORMATION,
         1,
         1,
         all},
        // Walked through "\\?\": its file's name fits.
        {"folder past MAX_PATH",
         [&] { RunUnix("mkdir -p " + deepUnix + " && touch " + deepUnix + "/c"); },
         true,
         {kSucceeded},
         MB_ICONINFORMATION,
         1,
         1,
         all.substr(0, all.find("\"sub")) + "\"" + deep + "\\c\"\r\n" + all.substr(all.find("\"sub"))},
        {"names past 255 bytes and a file too large",
         [&] {
             RunUnix("cd " + sources.UnixPath() + "/src表 && touch " + longFolder + "/" + std::string(121, 'g') +
                     ".txt && mkdir " + tooDeep + " && touch " + tooDeep + "/x && truncate -s 2144000001 huge.bin");
         },
         false,
         {kSucceeded,
          "格納する名前が 255 バイトを超えるファイルまたはフォルダが 2 個あり、バックアップされていません。\n" +
              std::string(source) + "\\" + tooDeep + "\n" + std::string(source) + "\\" + tooLong +
              "\n\n大きすぎて (約 2 GB 超) 格納できないファイルが 1 個あり、バックアップされていません。\n" +
              std::string(source) + "\\huge.bin"},
         MB_OK | MB_ICONWARNING,
         1,
         1,
         all},
        // Names from other systems' tools that Windows cannot make: the archiver would refuse them.
        {"names Windows cannot make",
         [&] {
             RunUnix("cd " + sources.UnixPath() +
                     "/src表 && touch aux.txt 'trail.' && mkdir 'odd ' && touch 'odd /x.txt'");
         },
         false,
         {kSucceeded,
          "Windows で使えない名前 (末尾がピリオドや空白、CON や AUX などの予約名) のファイルまたはフォルダが 3 "
          "個あり、バックアップされていません。\n" +
              std::string(source) + "\\aux.txt\n" + std::string(source) + "\\odd \n" + std::string(source) +
              "\\trail."},
         MB_OK | MB_ICONWARNING,
         1,
         1,
         all},
        // Each name under a name the ANSI calls open; no folder link walked into.
        {"names outside the code page, and links",
         [&] {
             RunUnix("cd " + sources.UnixPath() + "/src表 && touch " + ShellBytes(cafe) + " " + ShellBytes(umlaut) +
                     " Uber.txt " + ShellBytes(korean + ".txt") + " " + ShellBytes(smile) + " && mkdir " +
                     ShellBytes(korean + "dir") + " && touch " + ShellBytes(korean + "dir/x.txt") +
                     " && ln -s a.txt flink.txt && ln -s .. sub/loop");
         },
         false,
         {kSucceeded, "たどらなかったフォルダのリンクが 1 個あり、その先のファイルはバックアップされていません。\n" +
                          std::string(source) + "\\sub\\loop"},
         MB_OK | MB_ICONWARNING,
         1,
         1,
         Recode(all, CP_ACP, CP_UTF8) + "\"" + cafe + "\"\r\n\"" + umlaut + "\"\r\n\"Uber.txt\"\r\n\"" + korean +
             ".txt\"\r\n\"" + smile + "\"\r\n\"" + korean + "dir\\x.txt\"\r\n\"flink.txt\"\r\n",
         true},
        {"archiver fails",
         [] { g_archiverResult = 3; },
         false,
         {"キャビネットファイルの作成に失敗しました。"},
         kFailure,
         1,
         1,
         all},
        {"no source",
         [&] { project.sourceFolder = ""; },
         false,
         {"ソースフォルダが指定されていません。"},
         kFailure,
         0,
         0,
         "<missing>"},
        {"missing source",
         [&] { project.sourceFolder = "Z:\\tmp\\kv-core-no-such-folder"; },
         false,
         {"ソースフォルダが存在しません。"},
         kFailure,
         0,
         0,
         "<missing>"},
        {"no archiver library",
         [] { OverrideArchiverCommand(nullptr); },
         false,
         {"アーカイバ CAB32.dll を読み込めませんでした。"},
         kFailure,
         0,
         0,
         "<missing>"},
        {"dialog cancelled",
         [&] { g_chosen = nullptr, WriteBytes(response, "earlier"); },
         false,
         {},
         0,
         1,
         0,
         "earlier"},
        {"response file cannot be created",
         [&] { CreateDirectoryA(response, nullptr); },
         false,
         {"レスポンスファイルの作成に失敗"},
         kFailure,
         1,
         0,
         "<missing>"},
        {"write fails at close",
         [&] { RunUnix("ln -s /dev/full " + program.UnixPath() + "/respons.txt"); },
         false,
         {"ファイルアクセス中にエラーが発生しました。"},
         kFailure,
         1,
         0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0u,
                  RunUnix("rm -rf " + program.UnixPath() + "/* && cd " + sources.UnixPath() +
                          " && rm -rf src表 && mkdir -p src表 && cd src表 && mkdir -p .git sub/Debug sub/表 DEBUG " +
                          longFolder +
                          " && touch a.txt 表.txt hidden.txt main.OBJ Makefile .dotfile .git/config "
                          "sub/util.h sub/Debug/x.txt sub/表/中.txt DEBUG/y.txt " +
                          longFolder + "/" + longFile));
        ASSERT_TRUE(SetFileAttributesA(source + "\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
        OverrideArchiverCommand(&StandInArchiver);
        g_commandLines.clear();
        g_archiverResult = g_dialogs = 0;
        g_chosen = "Z:\\tmp\\out.cab";
        g_dialogMovesTo = nullptr;
        project.sourceFolder = source;
        project.backupFolder = "D:\\バックアップ";
        project.ignoredExtensions = "obj";
        project.ignoredFolders = "debug";
        target = &project;
        c.setUp();
        Project before = project;
        MessageBoxRecorder boxes;
        BackupJob job;
        EXPECT_EQ(c.result, job.Run(target));
        SetCurrentDirectoryA(previous);
        EXPECT_EQ(c.texts, boxes.Texts());
        EXPECT_EQ(c.lastType, boxes.Boxes().empty() ? 0 : boxes.Boxes().back().type);
        for (const ShownBox& box : boxes.Boxes())
            EXPECT_EQ(window.m_hWnd, box.owner);
        EXPECT_EQ(c.dialogs, g_dialogs);
        EXPECT_EQ(Texts(static_cast<size_t>(c.archiverCalls), commandLine), g_commandLines);
        std::string written = c.response.empty() ? "" : ReadBytes(response);
        if (c.trueNames) // the order of names outside the code page is the file system's own
            EXPECT_EQ(Sorted(c.response), Sorted(TrueNames(written, source)));
        else
            EXPECT_EQ(c.response, written);
        EXPECT_TRUE(before.sourceFolder == project.sourceFolder && before.backupFolder == project.backupFolder &&
                    before.ignoredExtensions == project.ignoredExtensions);
    }
    CFileDialog::SetHook(previousDialog);
    OverrideArchiverCommand(nullptr);
    OverrideProgramFolder(nullptr);
}
