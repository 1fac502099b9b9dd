// End-to-end: copies Kestelvarnholm.exe and CAB32.dll (found beside this test) into a scratch
// program folder, starts the program and acts as its user through window messages: the project
// file read and written, the editing session, the folder buttons and a backup through the save dialog.
#include "tests/e2e/program_app.h"

#include <gtest/gtest.h>

#include <string>

using testing_support::ReadBytes;
using testing_support::Recode;
using testing_support::RunUnix;
using testing_support::ShellBytes;

namespace {

using e2e::App;
using e2e::EndToEnd;
using e2e::WithoutDates;
using project_dat::File;
using project_dat::Record;

const std::string kDefault = kDefaultName;

// Without a project file, or with a wrong header, the program starts with the default project; a
// short file keeps the records it has, with none selected: typing then changes no project, Delete asks
// about no name and removes nothing, Run and "..." do nothing. Closing (Escape, Alt+F4) writes the file
// back; the About item opens its box over the main dialog.
TEST_F(EndToEnd, StartReadsTheProjectFileAsFarAsItGoesAndClosingWritesIt)
{
    const std::string fresh = File(1, 0, Record(kDefault));
    const std::string kept = Record("資料", "C:\\表") + Record("two");
    const struct
    {
        const char* name;
        std::string file, list, fields, written;
        const char* typed;
    } cases[] = {
        {"no file", "", kDefault + ",@0", kDefault + "||||", fresh, ""},
        {"damaged header", File(1, 0, Record("lost"), "KESTELVARNHOLx"), kDefault + ",@0", kDefault + "||||", fresh,
         ""},
        {"short file", File(3, 1, kept), "資料,two,@-1", "||||", File(2, -1, kept), "N"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.file.empty())
            WriteProjectDat(c.file);
        App app(m_program);
        ASSERT_NE(nullptr, app.main);
        EXPECT_EQ(c.list, app.List());
        EXPECT_EQ(c.fields, app.Fields());
        if (c.file.empty()) {
            EXPECT_EQ("Kestelvarnholm Ver.1.00|プロジェクト一覧(&P)||追加(&A)|設定(&S)|ソースフォルダ(&S)||"
                      "バックアップファイルの保存先フォルダ(&B)||無視する拡張子(&E)||無視するフォルダ名(&F)||"
                      "バックアップ実行|...|...|削除(&D)|プロジェクト名(&N)|" +
                          kDefault,
                      app.Texts());
            SetWindowPos(app.main, nullptr, 20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            PostMessageA(app.main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            HWND about = app.WaitForOwned("Kestelvarnholmのバージョン情報");
            ASSERT_NE(nullptr, about);
            ExpectCentredOn(about, app.main);
            EXPECT_FALSE(IsWindowEnabled(app.main)) << "the owner is disabled while the box runs";
            ASSERT_TRUE(app.Answer(about, IDOK));
        }
        app.Type(IDC_PROJECT_NAME, c.typed);
        app.Type(IDC_SOURCE_FOLDER, c.typed);
        EXPECT_EQ(c.list, app.List());
        if (c.list.back() == '1') { // nothing selected: Delete asks about no project, the others do nothing
            app.Press(IDC_DELETE, true);
            EXPECT_EQ("プロジェクト「」の設定データを破棄します。\nよろしいですか？", app.AnswerBox(IDYES));
            for (int id : {IDC_RUN_BACKUP, IDC_BROWSE_SOURCE, IDC_BROWSE_BACKUP}) {
                app.Press(id, true);
                EXPECT_TRUE(app.NothingOpens()) << id;
            }
            EXPECT_EQ(c.list, app.List());
            EXPECT_EQ("N|N|||", app.Fields());
            ASSERT_TRUE(app.CloseWithAltF4());
        } else {
            ASSERT_TRUE(app.CloseWithEscape());
        }
        EXPECT_EQ(c.written, ProjectDat());
        ExpectSameInEveryLocale(std::string(c.name) + ": project.dat", ProjectDat());
        DeleteFileA(m_program / "project.dat");
    }
}

TEST_F(EndToEnd, EditingSessionIsKeptAcrossARestartAndDeletingFollowsTheSelectionRules)
{
    const std::string two = kDefault + "," + kDefault + ",";
    {
        App app(m_program);
        ASSERT_NE(nullptr, app.main);
        app.Press(IDC_ADD);
        app.Press(IDC_ADD);
        EXPECT_EQ(two + kDefault + ",@2", app.List());

        // Rename by typing: the entry follows each keystroke and stays selected.
        app.Type(IDC_PROJECT_NAME, "", true);
        EXPECT_EQ(two + ",@2", app.List());
        std::string typed;
        for (char ch : std::string("Docs")) {
            app.Type(IDC_PROJECT_NAME, std::string(1, ch));
            EXPECT_EQ(two + (typed += ch) + ",@2", app.List());
        }
        app.Type(IDC_SOURCE_FOLDER, "C:\\docs");
        app.Type(IDC_BACKUP_FOLDER, "D:\\save");
        app.Type(IDC_IGNORE_EXT, "obj,h");
        app.SetText(IDC_IGNORE_FOLDER, "Debug,出力");
        app.Pick(0);
        EXPECT_EQ(kDefault + "||||", app.Fields()) << "no text leaks into the other project";
        app.Pick(2);
        EXPECT_EQ("Docs|C:\\docs|D:\\save|obj,h|Debug,出力", app.Fields());

        // Enter in an edit and in the list leaves the dialog open.
        SendMessageA(app.Item(IDC_PROJECT_NAME), EM_SETSEL, 0x7FFF, 0x7FFF);
        PostMessageA(app.Item(IDC_IGNORE_EXT), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(app.Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(app.Item(IDC_PROJECT_NAME), WM_CHAR, '!', 1);
        EXPECT_TRUE(WaitFor([&] { return app.List() == two + "Docs!,@2"; })) << app.List();
        EXPECT_FALSE(app.Exited(0));
        app.Type(IDC_PROJECT_NAME, "Docs", true);

        // The close box closes and saves.
        PostMessageA(app.main, WM_SYSCOMMAND, SC_CLOSE, 0);
        ASSERT_TRUE(app.Exited());
    }
    const std::string docs = Record("Docs", "C:\\docs", "D:\\save", "obj,h", "Debug,出力");
    EXPECT_EQ(File(3, 2, Record(kDefault) + Record(kDefault) + docs), ProjectDat());
    ExpectSameInEveryLocale("project.dat after the session", ProjectDat());

    App app(m_program);
    ASSERT_NE(nullptr, app.main);
    EXPECT_EQ(two + "Docs,@2", app.List());
    EXPECT_EQ("Docs|C:\\docs|D:\\save|obj,h|Debug,出力", app.Fields());
    app.Press(IDC_DELETE, true);
    EXPECT_EQ("プロジェクト「Docs」の設定データを破棄します。\nよろしいですか？", app.AnswerBox(IDNO));
    EXPECT_EQ(two + "Docs,@2", app.List());

    struct
    {
        int pick;
        std::string left;
    } deletes[] = {
        {0, kDefault + ",Docs,@0"}, // the entry that followed is selected
        {1, kDefault + ",@0"},      // the new last entry is selected
        {0, kDefault + ",@0"},      // the only entry gives way to a fresh default one
    };
    for (const auto& step : deletes) {
        app.Pick(step.pick);
        app.Type(IDC_SOURCE_FOLDER, "X:\\gone");
        app.Press(IDC_DELETE, true);
        app.AnswerBox(IDYES);
        EXPECT_EQ(step.left, app.List());
    }
    EXPECT_EQ(kDefault + "||||", app.Fields());
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ(File(1, 0, Record(kDefault)), ProjectDat());
}

// With no source folder, or a missing one, a run only reports. The folder buttons open the browser at
// the stored folder and take the shell's path on OK only. With the tree, a run goes through the save
// dialog and makes a cabinet of the files that the ignore lists keep.
TEST_F(EndToEnd, FolderButtonsAndABackupThroughTheSaveDialog)
{
    // On the prefix's own drive: Wine's browser cannot always walk into Z:, whose volume it cannot read.
    CString folder;
    folder.Format("C:\\kv-e2e-%lu\\", GetCurrentProcessId());
    std::string source(folder + "source"), backup(folder + "save");
    for (const std::string& dir : {std::string(folder), source, backup})
        CreateDirectoryA(dir.c_str(), nullptr);
    std::string work = m_work.UnixPath(), tree = work + "/tree";
    ASSERT_EQ(0u, RunUnix("mkdir -p " + tree + "/sub " + tree + "/Debug && cd " + tree +
                          " && printf alpha > a.txt && printf beta > sub/b.h && printf obj > sub/c.obj && "
                          "printf dbg > Debug/x.txt && printf h > .hidden && printf zed > z.txt"));
    // Stored with a trailing backslash: the shell gives the path back without one.
    WriteProjectDat(File(1, 0, Record("p", "", backup + "\\", "obj", "Debug")));
    App app(m_program);
    ASSERT_NE(nullptr, app.main);
    app.Press(IDC_RUN_BACKUP, true);
    EXPECT_EQ("ソースフォルダが指定されていません。", app.AnswerBox(IDOK));
    app.Type(IDC_SOURCE_FOLDER, std::string(m_work / "missing"));
    app.Press(IDC_RUN_BACKUP, true);
    EXPECT_EQ("ソースフォルダが存在しません。", app.AnswerBox(IDOK));
    EXPECT_EQ("<missing>", ReadBytes(m_program / "respons.txt"));

    // The browser opens at the desktop and the stored folder then takes the selection. Wine's browser
    // now and then drops it while the tree is still being filled, so the user's next try is allowed.
    app.Type(IDC_SOURCE_FOLDER, source + "\\", true);
    HWND browser = nullptr;
    bool preselected = false;
    for (int attempt = 0; attempt < 3 && !preselected; ++attempt) {
        if (browser) {
            ASSERT_TRUE(app.Answer(browser, IDCANCEL));
        }
        app.Press(IDC_BROWSE_SOURCE, true);
        ASSERT_NE(nullptr, browser = app.WaitForOwned());
        HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
        ASSERT_NE(nullptr, tree);
        preselected = WaitFor([&] { return Preselection(tree) != 0; });
    }
    EXPECT_TRUE(preselected);
    ASSERT_TRUE(app.Answer(browser, IDOK));
    for (int button : {IDCANCEL, IDOK}) {
        app.Press(IDC_BROWSE_BACKUP, true);
        ASSERT_NE(nullptr, browser = app.WaitForOwned());
        ASSERT_TRUE(app.Answer(browser, button));
        std::string fields = "p|" + source + "|" + backup + "\\|obj|Debug";
        EXPECT_TRUE(button == IDOK || WaitFor([&] { return app.Fields() == fields; })) << app.Fields();
    }
    EXPECT_TRUE(WaitFor([&] { return TextOf(app.Item(IDC_BACKUP_FOLDER)) == backup; }));

    // A cabinet named in double-byte characters, 表 ending in the byte of a backslash.
    const char cabinet[] = "表バックアップ.cab";
    app.Type(IDC_SOURCE_FOLDER, std::string(m_work / "tree"), true);
    app.Press(IDC_RUN_BACKUP, true);
    ASSERT_TRUE(app.ChooseFile(std::string(m_work / cabinet)));
    EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));

    // In walk order: the subfolder's lines where it stands in the listing, before the later file.
    EXPECT_EQ("\"a.txt\"\r\n\"sub\\b.h\"\r\n\"z.txt\"\r\n", ReadBytes(m_program / "respons.txt"));
    ExpectSameInEveryLocale("respons.txt", ReadBytes(m_program / "respons.txt"));
    ExpectSameInEveryLocale("cabinet", WithoutDates(ReadBytes(m_work / cabinet)));
    EXPECT_EQ(0u, RunUnix("cabextract -q -d " + work + "/x " + work + "/" +
                          ShellBytes(Recode(cabinet, CP_ACP, CP_UTF8)) + " && cd " + work +
                          "/x && find . -type f | sort > ../found.txt && cat a.txt sub/b.h z.txt >> ../found.txt"));
    EXPECT_EQ("./a.txt\n./sub/b.h\n./z.txt\nalphabetazed", ReadBytes(m_work / "found.txt"));

    // Add, right after this project's fields were edited, shows the new project's own empty fields.
    app.Press(IDC_ADD);
    EXPECT_EQ("p," + kDefault + ",@1", app.List());
    EXPECT_EQ(kDefault + "||||", app.Fields());
    app.Press(IDC_DELETE, true);
    app.AnswerBox(IDYES);
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ(File(1, 0, Record("p", std::string(m_work / "tree"), backup, "obj", "Debug")), ProjectDat());
    for (const std::string& dir : {source, backup, std::string(folder)})
        RemoveDirectoryA(dir.c_str());
}

} // namespace
