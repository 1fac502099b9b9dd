// End-to-end: copies Kestelvarnholm.exe and CAB32.dll (found beside this test)
// into a scratch program folder, starts the program and acts as its user
// through window messages sent from this process.
#include "res/resource.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

using testing_support::ReadBytes;
using testing_support::RunUnix;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

const char kDefaultName[] = "名称未設定";

std::string Archived(const std::string& text)
{
    return std::string(1, static_cast<char>(text.size())) + text;
}

std::string Int32(int value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<unsigned>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Record(const std::string& name, const std::string& source = "", const std::string& backup = "",
                   const std::string& ext = "", const std::string& folders = "")
{
    return Archived(name) + Archived(source) + Archived(backup) + Archived(ext) + Archived(folders);
}

std::string ProjectFile(int count, int selected, const std::string& records)
{
    return Archived("KESTELVARNHOLM") + Int32(count) + Int32(selected) + records;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 8000)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::string ClassOf(HWND hWnd)
{
    char name[64] = {};
    GetClassNameA(hWnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hWnd)
{
    char text[2048] = {};
    SendMessageA(hWnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

HWND FindDescendant(HWND parent, const char* className)
{
    struct Search {
        const char* className;
        HWND found;
    } search{ className, nullptr };
    EnumChildWindows(
        parent,
        [](HWND hWnd, LPARAM data) -> BOOL {
            Search* s = reinterpret_cast<Search*>(data);
            if (ClassOf(hWnd) != s->className)
                return TRUE;
            s->found = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The running program in its own program folder.
class App
{
public:
    explicit App(const TempDir& folder) : m_folder(folder)
    {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string bin(self);
        bin.resize(bin.rfind('\\') + 1);
        CopyFileA((bin + "Kestelvarnholm.exe").c_str(), folder / "Kestelvarnholm.exe", FALSE);
        CopyFileA((bin + "CAB32.dll").c_str(), folder / "CAB32.dll", FALSE);
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App()
    {
        if (m_process.hProcess) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
    }

    bool Start()
    {
        CString exe = m_folder / "Kestelvarnholm.exe";
        std::string commandLine = "\"" + std::string(exe) + "\" ignored-argument";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, m_folder.Path(), &startup,
                            &m_process))
            return false;
        return WaitFor([&] { return (main = FindTopLevel(nullptr, "Kestelvarnholm Ver.1.00")) != nullptr; });
    }

    bool Running() const { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT; }
    bool WaitForExit() const { return WaitForSingleObject(m_process.hProcess, 8000) == WAIT_OBJECT_0; }

    // A visible "#32770" window of the program owned by owner (any owner when null).
    HWND FindTopLevel(HWND owner, const char* caption = nullptr) const
    {
        struct Search {
            const App* app;
            HWND owner;
            const char* caption;
            HWND found;
        } search{ this, owner, caption, nullptr };
        EnumWindows(
            [](HWND hWnd, LPARAM data) -> BOOL {
                Search* s = reinterpret_cast<Search*>(data);
                DWORD pid = 0;
                GetWindowThreadProcessId(hWnd, &pid);
                if (pid != s->app->m_process.dwProcessId || !IsWindowVisible(hWnd) || ClassOf(hWnd) != "#32770")
                    return TRUE;
                if (s->owner && GetWindow(hWnd, GW_OWNER) != s->owner)
                    return TRUE;
                if (s->caption && TextOf(hWnd) != s->caption)
                    return TRUE;
                s->found = hWnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    // Waits for a window owned by the main dialog (a box, the save dialog, the browser).
    HWND WaitForOwned(const char* caption = nullptr)
    {
        HWND found = nullptr;
        WaitFor([&] { return (found = FindTopLevel(main, caption)) != nullptr; });
        return found;
    }
    bool WaitGone(HWND hWnd)
    {
        return WaitFor([&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); });
    }

    HWND Item(int id) const { return GetDlgItem(main, id); }
    std::string Edit(int id) const { return TextOf(Item(id)); }
    std::string Fields() const
    {
        return Edit(IDC_PROJECT_NAME) + "|" + Edit(IDC_SOURCE_FOLDER) + "|" + Edit(IDC_BACKUP_FOLDER) + "|" +
               Edit(IDC_IGNORE_EXT) + "|" + Edit(IDC_IGNORE_FOLDER);
    }
    int Count() const { return static_cast<int>(SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCOUNT, 0, 0)); }
    int Selection() const { return static_cast<int>(SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCURSEL, 0, 0)); }
    // Entry texts come back unconverted from the ANSI message across processes: read them as UTF-16.
    std::string Entry(int index) const
    {
        HWND list = Item(IDC_PROJECT_LIST);
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
        if (length < 0)
            return "<none>";
        std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(&wide[0]));
        char text[1024] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
        return text;
    }
    std::string Entries() const
    {
        std::string all;
        for (int i = 0; i < Count(); ++i)
            all += (i ? "," : "") + Entry(i);
        return all;
    }
    // A click that may open a modal window: posted.
    void Press(int id) const
    {
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    // A click that opens nothing: sent, so it is done on return.
    void Click(int id) const
    {
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    void Pick(int index) const
    {
        SendMessageA(Item(IDC_PROJECT_LIST), LB_SETCURSEL, index, 0);
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_PROJECT_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(IDC_PROJECT_LIST)));
    }
    // Types one character at the end of an edit, as a keystroke.
    void Type(int id, char ch) const
    {
        SendMessageA(Item(id), EM_SETSEL, 0x7FFF, 0x7FFF);
        SendMessageA(Item(id), WM_CHAR, static_cast<unsigned char>(ch), 1);
    }
    void TypeText(int id, const std::string& text) const
    {
        for (char ch : text)
            Type(id, ch);
    }
    void ClearEdit(int id) const
    {
        SendMessageA(Item(id), EM_SETSEL, 0, -1);
        SendMessageA(Item(id), WM_CHAR, VK_BACK, 1);
    }
    // Answers a message box owned by the main dialog and returns its text.
    std::string AnswerBox(int button)
    {
        HWND box = WaitForOwned();
        if (!box)
            return "<no box>";
        std::string text = TextOf(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, button, 0);
        WaitGone(box);
        return text;
    }
    bool CloseWithEscape()
    {
        PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
        return WaitForExit();
    }

    HWND main = nullptr;

private:
    const TempDir& m_folder;
    PROCESS_INFORMATION m_process = {};
};

class EndToEnd : public ::testing::Test
{
protected:
    std::string ProjectDat() { return ReadBytes(m_program / "project.dat"); }
    void WriteProjectDat(const std::string& bytes) { ASSERT_TRUE(WriteBytes(m_program / "project.dat", bytes)); }

    TempDir m_program;
    TempDir m_work;
};

TEST_F(EndToEnd, FirstStartShowsTheDefaultProjectAndClosingWritesIt)
{
    App app(m_program);
    ASSERT_TRUE(app.Start());
    EXPECT_EQ(kDefaultName, app.Entries());
    EXPECT_EQ(0, app.Selection());
    EXPECT_EQ(std::string(kDefaultName) + "||||", app.Fields());
    ASSERT_TRUE(app.CloseWithEscape());
    std::string expected = ProjectFile(1, 0, Record(kDefaultName));
    ASSERT_EQ(38u, expected.size());
    EXPECT_EQ(expected, ProjectDat());
}

TEST_F(EndToEnd, EditingSessionIsKeptAcrossARestart)
{
    {
        App app(m_program);
        ASSERT_TRUE(app.Start());
        app.Click(IDC_ADD);
        app.Click(IDC_ADD);
        EXPECT_EQ(std::string(kDefaultName) + "," + kDefaultName + "," + kDefaultName, app.Entries());
        EXPECT_EQ(2, app.Selection());

        app.ClearEdit(IDC_PROJECT_NAME);
        EXPECT_EQ("", app.Entry(2));
        std::string typed;
        for (char ch : std::string("Docs")) {
            app.Type(IDC_PROJECT_NAME, ch);
            typed += ch;
            EXPECT_EQ(typed, app.Entry(2));
            EXPECT_EQ(2, app.Selection());
        }
        app.TypeText(IDC_SOURCE_FOLDER, "C:\\docs");
        app.TypeText(IDC_BACKUP_FOLDER, "D:\\save");
        app.TypeText(IDC_IGNORE_EXT, "obj,h");
        app.TypeText(IDC_IGNORE_FOLDER, "Debug");

        app.Pick(0);
        EXPECT_EQ(std::string(kDefaultName) + "||||", app.Fields()) << "no text leaks into the other project";
        app.Pick(2);
        EXPECT_EQ("Docs|C:\\docs|D:\\save|obj,h|Debug", app.Fields());

        // Enter in an edit and in the list leaves the dialog open.
        SendMessageA(app.Item(IDC_PROJECT_NAME), EM_SETSEL, 0x7FFF, 0x7FFF);
        PostMessageA(app.Item(IDC_IGNORE_EXT), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(app.Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(app.Item(IDC_PROJECT_NAME), WM_CHAR, '!', 1);
        EXPECT_TRUE(WaitFor([&] { return app.Entry(2) == "Docs!"; })) << app.Entries() << " " << app.Selection();
        EXPECT_TRUE(app.Running());
        app.ClearEdit(IDC_PROJECT_NAME);
        app.TypeText(IDC_PROJECT_NAME, "Docs");

        // The close box closes and saves.
        PostMessageA(app.main, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(app.WaitForExit());
    }
    EXPECT_EQ(ProjectFile(3, 2,
                          Record(kDefaultName) + Record(kDefaultName) +
                              Record("Docs", "C:\\docs", "D:\\save", "obj,h", "Debug")),
              ProjectDat());

    App app(m_program);
    ASSERT_TRUE(app.Start());
    EXPECT_EQ(std::string(kDefaultName) + "," + kDefaultName + ",Docs", app.Entries());
    EXPECT_EQ(2, app.Selection());
    EXPECT_EQ("Docs|C:\\docs|D:\\save|obj,h|Debug", app.Fields());

    app.Press(IDC_DELETE);
    EXPECT_EQ("プロジェクト「Docs」の設定データを破棄します。\nよろしいですか？", app.AnswerBox(IDNO));
    EXPECT_EQ(3, app.Count());
    EXPECT_EQ(2, app.Selection());

    app.Pick(0);
    app.Press(IDC_DELETE);
    app.AnswerBox(IDYES);
    EXPECT_EQ(std::string(kDefaultName) + ",Docs", app.Entries());
    EXPECT_EQ(0, app.Selection()) << "the entry that followed is selected";

    app.Pick(1);
    app.Press(IDC_DELETE);
    app.AnswerBox(IDYES);
    EXPECT_EQ(kDefaultName, app.Entries());
    EXPECT_EQ(0, app.Selection()) << "the new last entry is selected";

    app.TypeText(IDC_SOURCE_FOLDER, "X:\\gone");
    app.Press(IDC_DELETE);
    app.AnswerBox(IDYES);
    EXPECT_EQ(kDefaultName, app.Entries());
    EXPECT_EQ(0, app.Selection());
    EXPECT_EQ(std::string(kDefaultName) + "||||", app.Fields());
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ(ProjectFile(1, 0, Record(kDefaultName)), ProjectDat());
}

TEST_F(EndToEnd, FolderButtonsOpenTheBrowserAtTheStoredFolder)
{
    CString source = m_work / "source";
    CString backup = m_work / "save";
    CreateDirectoryA(source, nullptr);
    CreateDirectoryA(backup, nullptr);
    // Stored with a trailing backslash: the shell gives the path back without one.
    WriteProjectDat(ProjectFile(1, 0, Record("p", std::string(source) + "\\", std::string(backup) + "\\")));
    App app(m_program);
    ASSERT_TRUE(app.Start());

    // The browser opens at the desktop; the stored folder then takes the
    // selection. Wine's browser now and then drops that selection when it comes
    // while the tree is still being filled, so the user's second try is allowed.
    HWND browser = nullptr;
    bool preselected = false;
    for (int attempt = 0; attempt < 3 && !preselected; ++attempt) {
        if (browser) {
            PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
            ASSERT_TRUE(app.WaitGone(browser));
        }
        app.Press(IDC_BROWSE_SOURCE);
        browser = app.WaitForOwned();
        ASSERT_NE(nullptr, browser);
        HWND tree = FindDescendant(browser, "SysTreeView32");
        ASSERT_NE(nullptr, tree);
        preselected = WaitFor([&] {
            LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
            return caret != 0 && caret != SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        });
    }
    EXPECT_TRUE(preselected);
    PostMessageA(browser, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(app.WaitGone(browser));
    EXPECT_TRUE(WaitFor([&] { return app.Edit(IDC_SOURCE_FOLDER) == std::string(source); }))
        << app.Edit(IDC_SOURCE_FOLDER);

    app.Press(IDC_BROWSE_BACKUP);
    browser = app.WaitForOwned();
    ASSERT_NE(nullptr, browser);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(app.WaitGone(browser));
    EXPECT_EQ(std::string(backup) + "\\", app.Edit(IDC_BACKUP_FOLDER));

    app.Press(IDC_BROWSE_BACKUP);
    browser = app.WaitForOwned();
    ASSERT_NE(nullptr, browser);
    PostMessageA(browser, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(app.WaitGone(browser));
    EXPECT_TRUE(WaitFor([&] { return app.Edit(IDC_BACKUP_FOLDER) == std::string(backup); }));
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ(ProjectFile(1, 0, Record("p", std::string(source), std::string(backup))), ProjectDat());
}

TEST_F(EndToEnd, BackupThroughTheSaveDialogMakesACabinetOfTheKeptFiles)
{
    std::string tree = m_work.UnixPath() + "/tree";
    ASSERT_EQ(0u, RunUnix("mkdir -p " + tree + "/sub " + tree + "/Debug " + tree + "/out && printf 'alpha' > " + tree +
                          "/a.txt && printf 'beta' > " + tree + "/sub/b.h && printf 'obj' > " + tree +
                          "/sub/c.obj && printf 'dbg' > " + tree + "/Debug/x.txt && printf 'h' > " + tree +
                          "/.hidden"));
    CString source = m_work / "tree";
    CString cabinet = m_work / "backup.cab";
    WriteProjectDat(ProjectFile(1, 0, Record("p", std::string(source), std::string(m_work.Path()), "obj", "Debug")));
    App app(m_program);
    ASSERT_TRUE(app.Start());

    app.Press(IDC_RUN_BACKUP);
    HWND save = app.WaitForOwned("名前を付けて保存");
    ASSERT_NE(nullptr, save);
    HWND name = FindDescendant(GetDlgItem(save, 0x47C), "Edit");
    if (!name)
        name = GetDlgItem(save, 0x47C);
    ASSERT_NE(nullptr, name);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(cabinet.GetString()));
    PostMessageA(save, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(app.WaitGone(save));
    EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));

    std::string response = ReadBytes(m_program / "respons.txt");
    EXPECT_TRUE(response == "\"a.txt\"\r\n\"sub\\b.h\"\r\n" || response == "\"sub\\b.h\"\r\n\"a.txt\"\r\n") << response;
    std::string extracted = m_work.UnixPath() + "/extracted";
    EXPECT_EQ(0u, RunUnix("cabextract -q -d " + extracted + " " + m_work.UnixPath() + "/backup.cab"));
    EXPECT_EQ(0u, RunUnix("cd " + extracted + " && find . -type f | sort > " + m_work.UnixPath() + "/found.txt"));
    EXPECT_EQ("./a.txt\n./sub/b.h\n", ReadBytes(m_work / "found.txt"));
    EXPECT_EQ("alpha", ReadBytes(m_work / "extracted\\a.txt"));
    EXPECT_EQ("beta", ReadBytes(m_work / "extracted\\sub\\b.h"));
    ASSERT_TRUE(app.CloseWithEscape());
}

TEST_F(EndToEnd, RunWithoutAUsableSourceFolderOnlyReports)
{
    WriteProjectDat(ProjectFile(1, 0, Record("p")));
    App app(m_program);
    ASSERT_TRUE(app.Start());
    app.Press(IDC_RUN_BACKUP);
    EXPECT_EQ("ソースフォルダが指定されていません。", app.AnswerBox(IDOK));
    app.TypeText(IDC_SOURCE_FOLDER, std::string(m_work / "missing"));
    app.Press(IDC_RUN_BACKUP);
    EXPECT_EQ("ソースフォルダが存在しません。", app.AnswerBox(IDOK));
    EXPECT_EQ("<missing>", ReadBytes(m_program / "respons.txt"));
    ASSERT_TRUE(app.CloseWithEscape());
}

TEST_F(EndToEnd, AboutBoxOpensOverTheMainDialog)
{
    App app(m_program);
    ASSERT_TRUE(app.Start());
    SetWindowPos(app.main, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageA(app.main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = app.WaitForOwned("Kestelvarnholmのバージョン情報");
    ASSERT_NE(nullptr, about);
    RECT aboutRect;
    RECT mainRect;
    GetWindowRect(about, &aboutRect);
    GetWindowRect(app.main, &mainRect);
    EXPECT_NEAR((aboutRect.left + aboutRect.right) / 2, (mainRect.left + mainRect.right) / 2, 1);
    EXPECT_NEAR((aboutRect.top + aboutRect.bottom) / 2, (mainRect.top + mainRect.bottom) / 2, 1);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(app.WaitGone(about));
    EXPECT_EQ(kDefaultName, app.Entries());
    ASSERT_TRUE(app.CloseWithEscape());
}

TEST_F(EndToEnd, DamagedProjectFilesAreReadAsFarAsTheyGo)
{
    WriteProjectDat(Archived("KESTELVARNHOLx") + Int32(1) + Int32(0) + Record("lost"));
    {
        App app(m_program);
        ASSERT_TRUE(app.Start());
        EXPECT_EQ(kDefaultName, app.Entries());
        EXPECT_EQ(0, app.Selection());
        ASSERT_TRUE(app.CloseWithEscape());
    }
    EXPECT_EQ(ProjectFile(1, 0, Record(kDefaultName)), ProjectDat());

    WriteProjectDat(ProjectFile(3, 1, Record("one", "C:\\a") + Record("two")));
    App app(m_program);
    ASSERT_TRUE(app.Start());
    EXPECT_EQ("one,two", app.Entries());
    EXPECT_EQ(LB_ERR, app.Selection());
    EXPECT_EQ("||||", app.Fields());
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ(ProjectFile(2, -1, Record("one", "C:\\a") + Record("two")), ProjectDat());
}

} // namespace
