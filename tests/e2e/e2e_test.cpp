// End-to-end: copies Kestelvarnholm.exe and CAB32.dll (found beside this test) into a scratch
// program folder, starts the program and acts as its user through window messages.
#include "res/resource.h"
#include "tests/e2e/locales.h"
#include "tests/support/test_support.h"
#include "tests/support/project_dat.h"
#include "tests/support/dialog_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using testing_support::ReadBytes;
using testing_support::Recode;
using testing_support::RunUnix;
using testing_support::ShellBytes;
using testing_support::TempDir;

namespace {

using project_dat::File;
using project_dat::Record;

const std::string kDefault = kDefaultName;

// The running program in its own program folder, with what these tests read of its main dialog.
class App : public ProgramDriver
{
public:
    explicit App(const TempDir& folder)
    {
        std::string path(folder.Path());
        if (Install(path))
            Start(path, "ignored-argument");
    }

    // The caption, then every control's text in tab order.
    std::string Texts() const
    {
        std::string all = TextOf(main);
        for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            all += "|" + TextOf(child);
        return all;
    }
    std::string Fields() const
    {
        std::string all;
        for (int id : {IDC_PROJECT_NAME, IDC_SOURCE_FOLDER, IDC_BACKUP_FOLDER, IDC_IGNORE_EXT, IDC_IGNORE_FOLDER})
            all += (id == IDC_PROJECT_NAME ? "" : "|") + TextOf(Item(id));
        return all;
    }
    // The text of entry index; read as UTF-16, as ANSI texts are not converted across processes.
    std::string Entry(int index) const
    {
        wchar_t wide[512] = {};
        char text[1024] = {};
        SendMessageW(Item(IDC_PROJECT_LIST), LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide));
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        return text;
    }
    // The entries, then the selected index.
    std::string List() const
    {
        std::string all;
        for (int i = 0; i < SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCOUNT, 0, 0); ++i)
            all += Entry(i) + ",";
        return all + "@" + std::to_string(SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCURSEL, 0, 0));
    }
    // Clicks entry index of the list with the mouse and waits until the list has taken it.
    void Pick(int index) const
    {
        HWND list = Item(IDC_PROJECT_LIST);
        LRESULT height = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
        LPARAM at = MAKELPARAM(5, static_cast<WORD>(height * index + height / 2));
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
        EXPECT_TRUE(WaitFor([&] {
            return SendMessageA(list, LB_GETCURSEL, 0, 0) == index && TextOf(Item(IDC_PROJECT_NAME)) == Entry(index);
        })) << "the click did not show entry "
            << index;
    }
    bool CloseWithEscape()
    {
        PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
        return Exited();
    }
    bool CloseWithAltF4()
    {
        const LPARAM kAltDown = 1 << 29;
        PostMessageA(main, WM_SYSKEYDOWN, VK_F4, 1 | kAltDown);
        return Exited();
    }
};

// The cabinet with the fields that change from run to run (set ID, file dates
// and times) zeroed.
std::string WithoutDates(std::string cab)
{
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(cab[at]) | static_cast<unsigned char>(cab[at + 1]) << 8);
    };
    if (cab.size() < 36)
        return cab;
    cab[32] = cab[33] = 0;
    size_t at = u16(16) | u16(18) << 16;
    for (size_t i = 0, files = u16(28); i < files && at + 16 < cab.size(); ++i) {
        std::fill(cab.begin() + static_cast<long>(at) + 10, cab.begin() + static_cast<long>(at) + 14, '\0');
        at = cab.find('\0', at + 16) + 1;
    }
    return cab;
}

// Each case runs under two system locales (tests/e2e/locales.h).
class EndToEnd : public ::testing::Test
{
protected:
    std::string ProjectDat() { return ReadBytes(m_program / "project.dat"); }
    void WriteProjectDat(const std::string& bytes)
    {
        ASSERT_TRUE(testing_support::WriteBytes(m_program / "project.dat", bytes));
    }

    TempDir m_program;
    TempDir m_work;
};

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

// A tree of names that code page 932 holds gives the response file and the
// cabinet it always gave (LZX, the archiver's default, since that became it). A tree of names it lacks, with links, keeps every
// file under its own name and bytes, as cabextract and 7-Zip read them back,
// and names the folder link it did not follow.
TEST_F(EndToEnd, EveryFileUnderItsOwnNameAndA932TreeAsBefore)
{
    typedef std::vector<std::pair<std::string, std::string>> Files; // UTF-8 name (with '/'), bytes
    const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD";
    const Files only932 = {{"a.txt", "alpha"},
                           {"sub/b.h", "beta"},
                           {Recode("ソース/中.txt", CP_ACP, CP_UTF8), "naka"},
                           {Recode("表.txt", CP_ACP, CP_UTF8), "hyou"}};
    const Files beyond = {{"a.txt", "alpha"},
                          {Recode("日本語/表示.txt", CP_ACP, CP_UTF8), "hyouji"},
                          {"caf\xC3\xA9.md", "cafe"},
                          {"\xC3\x9C"
                           "ber.txt",
                           "umlaut"},
                          {"Uber.txt", "plain"},
                          {korean + ".txt", "korean"},
                          {"smile\xF0\x9F\x98\x80.txt", "smile"},
                          {korean + "dir/x.txt", "x"},
                          {"sub/s.txt", "s"}};
    const std::string tree = m_work.UnixPath() + "/tree";
    const struct
    {
        const char* what;
        const Files& files;
        std::string links;         // shell commands run in the tree after the files are made
        std::string warning;       // the box after the outcome, empty for none
        std::string response;      // respons.txt, empty: not compared
        std::string cabinetSha256; // of the cabinet without its dates, empty: not compared
    } cases[] = {
        {"names of code page 932 only", only932, "", "",
         "\"a.txt\"\r\n\"sub\\b.h\"\r\n\"ソース\\中.txt\"\r\n\"表.txt\"\r\n",
         "62672817bc1a4c420a0c867b607502bacf6ee3f9bc0b9a55af0d8bca338e7091"},
        {"names outside code page 932, and links", beyond, "ln -s a.txt flink.txt && ln -s .. sub/loop",
         "たどらなかったフォルダのリンクが 1 個あり、その先のファイルはバックアップされていません。\n" +
             std::string(m_work / "tree\\sub\\loop"),
         "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string make = "rm -rf " + tree + " " + m_work.UnixPath() + "/x* && mkdir -p " + tree + " && cd " + tree;
        Files expected = c.files;
        for (const auto& f : c.files) {
            size_t slash = f.first.rfind('/');
            if (slash != std::string::npos)
                make += " && mkdir -p " + ShellBytes(f.first.substr(0, slash));
            make += " && printf " + f.second + " > " + ShellBytes(f.first) + " && touch -d @1600000000 " +
                    ShellBytes(f.first);
        }
        if (!c.links.empty()) {
            make += " && " + c.links;
            expected.push_back({"flink.txt", "alpha"});
        }
        ASSERT_EQ(0u, RunUnix(make));
        std::sort(expected.begin(), expected.end());
        // 7-Zip reads names in UTF-8 only: those stored in code page 932 it shows as their bytes.
        std::string listing;
        std::vector<std::string> sevenZipReads;
        for (const auto& f : expected) {
            listing += "./" + f.first + "=" + f.second + "\n";
            bool ascii = std::all_of(f.first.begin(), f.first.end(), [](char ch) { return ch > 0; });
            if (ascii || Recode(Recode(f.first, CP_UTF8, CP_ACP), CP_ACP, CP_UTF8) != f.first)
                sevenZipReads.push_back("./" + f.first + "=" + f.second + "\n");
        }

        WriteProjectDat(File(1, 0, Record("p", std::string(m_work / "tree"))));
        App app(m_program);
        ASSERT_NE(nullptr, app.main);
        app.Press(IDC_RUN_BACKUP, true);
        ASSERT_TRUE(app.ChooseFile(std::string(m_work / "x.cab")));
        EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));
        if (!c.warning.empty()) {
            EXPECT_EQ(c.warning, app.AnswerBox(IDOK));
        }
        ASSERT_TRUE(app.CloseWithEscape());

        if (!c.response.empty()) {
            EXPECT_EQ(c.response, ReadBytes(m_program / "respons.txt"));
        }
        ExpectSameInEveryLocale(std::string(c.what) + ": respons.txt", ReadBytes(m_program / "respons.txt"));
        ExpectSameInEveryLocale(std::string(c.what) + ": cabinet", WithoutDates(ReadBytes(m_work / "x.cab")));
        if (!c.cabinetSha256.empty()) {
            ASSERT_TRUE(testing_support::WriteBytes(m_work / "xmasked", WithoutDates(ReadBytes(m_work / "x.cab"))));
            ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && sha256sum xmasked | cut -c1-64 > xsum"));
            EXPECT_EQ(c.cabinetSha256 + "\n", ReadBytes(m_work / "xsum"));
        }
        const std::string show =
            " && find . -type f | LC_ALL=C sort | while read -r f; do printf '%s=' \"$f\"; cat \"$f\"; echo; done";
        ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && cabextract -q -e CP932 -d xc x.cab && cd xc" + show +
                              " > ../xc.txt"));
        EXPECT_EQ(listing, ReadBytes(m_work / "xc.txt")) << "cabextract -e CP932";
        ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && 7zz x -oxz x.cab > /dev/null && cd xz" + show +
                              " > ../xz.txt"));
        const std::string sevenZip = ReadBytes(m_work / "xz.txt");
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), std::count(sevenZip.begin(), sevenZip.end(), '\n'));
        for (const std::string& line : sevenZipReads)
            EXPECT_NE(std::string::npos, sevenZip.find(line)) << "7-Zip: " << line;
    }
}

} // namespace

namespace {

// A tree that runs deep and holds a disk image: a file past MAX_PATH whose stored name fits 255 bytes is
// stored; one whose name does not fit and a sparse file over 2 GiB are left out and named after the outcome.
TEST_F(EndToEnd, DeepPathsAndAFileTooLargeNeverFailTheBackup)
{
    const std::string tree = m_work.UnixPath() + "/tree", folder(130, 'P'), fits = std::string(120, 'f') + ".txt",
                      long_ = std::string(121, 'g') + ".txt";
    ASSERT_EQ(0u, RunUnix("rm -rf " + tree + " && mkdir -p " + tree + "/" + folder + " && cd " + tree +
                          " && printf deep > " + folder + "/" + fits + " && printf long > " + folder + "/" + long_ +
                          " && truncate -s 2500M image.bin"));
    const std::string source(m_work / "tree");
    ASSERT_GT(source.size() + 1 + folder.size() + 1 + fits.size(), size_t(MAX_PATH)) << "the stored file lies past it";
    WriteProjectDat(File(1, 0, Record("p", source)));
    App app(m_program);
    ASSERT_NE(nullptr, app.main);
    app.Press(IDC_RUN_BACKUP, true);
    ASSERT_TRUE(app.ChooseFile(std::string(m_work / "deep.cab")));
    EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));
    EXPECT_EQ("格納する名前が 255 バイトを超えるファイルまたはフォルダが 1 個あり、バックアップされていません。\n" +
                  source + "\\" + folder + "\\" + long_ +
                  "\n\n大きすぎて (約 2 GB 超) 格納できないファイルが 1 個あり、バックアップされていません。\n" +
                  source + "\\image.bin",
              app.AnswerBox(IDOK));
    ASSERT_TRUE(app.CloseWithEscape());
    EXPECT_EQ("\"" + folder + "\\" + fits + "\"\r\n", ReadBytes(m_program / "respons.txt"));
    // Listed and piped out: an extracted path this long is more than some extractors make.
    ASSERT_EQ(0u, RunUnix("cd " + m_work.UnixPath() + " && cabextract -l deep.cab | grep -c '" + fits +
                          "' > count.txt && cabextract -q -p deep.cab > content.txt"));
    EXPECT_EQ("1\n", ReadBytes(m_work / "count.txt"));
    EXPECT_EQ("deep", ReadBytes(m_work / "content.txt"));
}

} // namespace
