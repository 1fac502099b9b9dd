// End-to-end, on what the code page decides: the program started where Windows gives it another code page
// than 932, and folders and files named in characters that code page 932 lacks, chosen by the user in the
// real program (which these tests drive from another process, as e2e_test.cpp does).
#include "framework/AfxCodePage.h"
#include "project/CodePagePath.h"
#include "res/resource.h"
#include "tests/support/test_support.h"
#include "tests/support/project_dat.h"
#include "tests/support/dialog_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

using project_dat::File;
using project_dat::Record;
using testing_support::ReadBytes;
using testing_support::RunUnix;
using testing_support::TempDir;

namespace {

// A scratch program folder, installed, and a scratch folder for the rest.
class CodePage : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(ProgramDriver::Install(std::string(m_program.Path()))); }

    TempDir m_program;
    TempDir m_work;
};

// The true name of each folder of path and the UTF-16 path it names; "<none>" when it names nothing.
std::wstring LongPath(const std::wstring& path)
{
    wchar_t resolved[1024] = L"";
    DWORD n = GetLongPathNameW(path.c_str(), resolved, 1024);
    return n > 0 && n < 1024 ? resolved : L"<none>";
}

// The source folder of the first project of a project.dat.
std::string FirstSource(const std::string& file)
{
    const size_t name = 23, source = name + 1 + static_cast<unsigned char>(file.size() > name ? file[name] : 0);
    if (file.size() <= source)
        return "<none>";
    return file.substr(source + 1, static_cast<unsigned char>(file[source]));
}

// The text of an item of a tree view in another process, read through memory lent in that process.
std::wstring TreeItemText(HWND tree, LPARAM item)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    char* lent =
        process ? static_cast<char*>(VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE)) : nullptr;
    wchar_t text[256] = {};
    if (lent) {
        TVITEMW asked = {};
        asked.mask = TVIF_TEXT;
        asked.hItem = reinterpret_cast<HTREEITEM>(item);
        asked.pszText = reinterpret_cast<LPWSTR>(lent + sizeof asked);
        asked.cchTextMax = 255;
        WriteProcessMemory(process, lent, &asked, sizeof asked, nullptr);
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(lent));
        ReadProcessMemory(process, lent + sizeof asked, text, sizeof text - sizeof *text, nullptr);
        VirtualFreeEx(process, lent, 0, MEM_RELEASE);
    }
    if (process)
        CloseHandle(process);
    return text;
}

// Selects, in a folder browser's tree, the sibling of the selected item that is called name, as a click does.
bool SelectSibling(HWND tree, const std::wstring& name)
{
    LPARAM parent =
        SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    for (LPARAM item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, parent); item;
         item = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item))
        if (TreeItemText(tree, item) == name)
            return SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, item) != 0;
    return false;
}

// A folder Über beside a folder Uber, which a best fit would take it for. Chosen through the source field
// or the folder browser, and as the save dialog's folder, it is Über whose files are backed up, into Über;
// project.dat keeps a name of it that the code page holds. A path that cannot be held at all is named in a
// message, and nothing is written.
TEST_F(CodePage, AFolderNamedOutsideItIsNeverTakenForAnother)
{
    // On the prefix's own drive: Wine's browser cannot always walk into Z:, whose volume it cannot read.
    const std::wstring root = L"C:\\kv-e2e-uber-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    const std::wstring uber = root + L"Uber", ueber = root + L"\u00DCber";
    // What a run of this test makes there, or an earlier one that stopped half-way left.
    auto clean = [&] {
        for (const std::wstring& dir : {uber, ueber})
            for (const wchar_t* name : {L"\\t.cab", L"\\uber.txt", L"\\ueber.txt"})
                DeleteFileW((dir + name).c_str());
        for (const std::wstring& dir : {uber, ueber, root})
            RemoveDirectoryW(dir.c_str());
    };
    clean();
    for (const std::wstring& dir : {root, uber, ueber})
        CreateDirectoryW(dir.c_str(), nullptr);
    for (const auto& file :
         {std::make_pair(uber + L"\\uber.txt", "plain"), std::make_pair(ueber + L"\\ueber.txt", "umlaut")}) {
        HANDLE h = CreateFileW(file.first.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, file.second, static_cast<DWORD>(strlen(file.second)), &written, nullptr);
        CloseHandle(h);
    }
    const std::wstring ueberCab = ueber + L"\\t.cab";
    const struct
    {
        const char* how;
        std::function<void(ProgramDriver&)> choose; // sets the source folder
        std::wstring shown;                         // what the source field then shows
        std::wstring cabinet;                       // typed into the save dialog
        std::wstring message;                       // the box that refuses a path; empty: the run succeeds
    } cases[] = {
        {"typed into the source field", [&](ProgramDriver& app) { app.SetTextW(IDC_SOURCE_FOLDER, ueber); }, ueber,
         ueber + L"\\t", L""},
        {"picked in the folder browser",
         [&](ProgramDriver& app) {
             app.SetTextW(IDC_SOURCE_FOLDER, uber);
             HWND browser = nullptr, tree = nullptr;
             for (int attempt = 0; attempt < 3 && !(tree && Preselection(tree)); ++attempt) {
                 if (browser)
                     app.Answer(browser, IDCANCEL);
                 app.Press(IDC_BROWSE_SOURCE, true);
                 browser = app.WaitForOwned();
                 tree = browser ? FindWindowExA(browser, nullptr, "SysTreeView32", nullptr) : nullptr;
                 WaitFor([&] { return tree && Preselection(tree) != 0; });
             }
             ASSERT_TRUE(tree && SelectSibling(tree, L"\u00DCber"));
             ASSERT_TRUE(app.Answer(browser, IDOK));
         },
         ueber, ueber + L"\\t", L""},
        {"a missing folder typed into the source field",
         [&](ProgramDriver& app) { app.SetTextW(IDC_SOURCE_FOLDER, root + L"\u00DCnknown"); }, root + L"\u00DCnknown",
         L"",
         L"ソースフォルダ「" + root +
             L"\u00DCnknown」は、この環境の文字コードで表せない文字を含み、短い名前 (8.3 形式) "
             L"でも表せないため、使えません。"},
        {"a cabinet named outside the code page", [&](ProgramDriver& app) { app.SetTextW(IDC_SOURCE_FOLDER, ueber); },
         ueber, ueber + L"\\t\u00DC",
         L"キャビネットファイル「" + ueber +
             L"\\t\u00DC.cab」は、この環境の文字コードで表せない文字を含み、短い名前 "
             L"(8.3 形式) でも表せないため、使えません。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        DeleteFileA(m_program / "respons.txt");
        ASSERT_TRUE(testing_support::WriteBytes(m_program / "project.dat", File(1, 0, Record("p"))));
        ProgramDriver app;
        ASSERT_TRUE(app.Start(std::string(m_program.Path()))) << "the main dialog did not appear";
        c.choose(app);
        EXPECT_TRUE(WaitFor([&] { return TextOfW(app.Item(IDC_SOURCE_FOLDER)) == c.shown; }))
            << "the field shows the folder's own name";
        app.Press(IDC_RUN_BACKUP, true);
        if (!c.cabinet.empty()) {
            ASSERT_TRUE(app.ChooseFileW(c.cabinet));
        }
        if (c.message.empty()) {
            EXPECT_EQ("成功しました。", app.AnswerBox(IDOK));
            EXPECT_EQ("\"ueber.txt\"\r\n", ReadBytes(m_program / "respons.txt"));
        } else {
            EXPECT_EQ(c.message, app.AnswerBoxW(IDOK));
            EXPECT_EQ("<missing>", ReadBytes(m_program / "respons.txt"));
        }
        app.Close();
        ASSERT_TRUE(app.Exited());

        // What project.dat keeps names Über, or, when nothing can name it, nothing at all.
        const std::string stored = FirstSource(ReadBytes(m_program / "project.dat"));
        EXPECT_EQ(stored, testing_support::FromWide(testing_support::ToWide(stored, CP_ACP), CP_ACP));
        EXPECT_EQ(c.cabinet.empty() ? L"<none>" : ueber, LongPath(testing_support::ToWide(stored, CP_ACP))) << stored;
        EXPECT_EQ(c.message.empty(), GetFileAttributesW(ueberCab.c_str()) != INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((uber + L"\\t.cab").c_str())) << "nothing lands in Uber";
        if (c.message.empty()) {
            std::string work = m_work.UnixPath();
            ASSERT_TRUE(CopyFileW(ueberCab.c_str(),
                                  testing_support::ToWide(std::string(m_work / "t.cab"), CP_ACP).c_str(), FALSE));
            EXPECT_EQ(0u, RunUnix("cd " + work +
                                  " && rm -rf x && cabextract -q -d x t.cab && cd x && find . -type f > ../found.txt"));
            EXPECT_EQ("./ueber.txt\n", ReadBytes(m_work / "found.txt"));
        }
        DeleteFileW(ueberCab.c_str());
    }
    clean();
}

// The program kept in a folder Über beside a folder Uber reads and writes its own project.dat, and runs its own
// archiver, not those of the folder a best fit would name.
TEST_F(CodePage, AProgramFolderNamedOutsideItIsItsOwn)
{
    const std::wstring root = AfxFromCodePage(m_work.Path()), uber = root + L"Uber\\", ueber = root + L"\u00DCber\\";
    char self[MAX_PATH] = "";
    std::string bin(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    const std::wstring from = AfxFromCodePage(bin.substr(0, bin.rfind('\\') + 1).c_str());
    const std::string uberFile = File(1, 7, Record("uber")), ueberFile = File(1, 5, Record("ueber"));
    for (const auto& folder : {std::make_pair(uber, uberFile), std::make_pair(ueber, ueberFile)}) {
        ASSERT_TRUE(CreateDirectoryW(folder.first.c_str(), nullptr));
        ASSERT_TRUE(testing_support::WriteBytes(HoldPath(folder.first + L"project.dat").path, folder.second));
    }
    for (const wchar_t* file : {L"Kestelvarnholm.exe", L"CAB32.dll"})
        ASSERT_TRUE(CopyFileW((from + file).c_str(), (ueber + file).c_str(), FALSE));
    ProgramDriver app;
    ASSERT_TRUE(app.StartW(ueber)) << "the main dialog did not appear";
    wchar_t entry[64] = L"";
    SendMessageW(app.Item(IDC_PROJECT_LIST), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(entry));
    EXPECT_EQ(std::wstring(L"ueber"), entry);
    app.Close();
    ASSERT_TRUE(app.Exited());
    EXPECT_EQ(File(1, -1, Record("ueber")), ReadBytes(HoldPath(ueber + L"project.dat").path)) << "read and written";
    EXPECT_EQ(uberFile, ReadBytes(AfxToCodePage(uber + L"project.dat")));
}

// The code page Windows gives programs that do not ask for one.
UINT SystemCodePage()
{
    char number[16] = "";
    GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, number, sizeof number);
    return static_cast<UINT>(atoi(number));
}

// The program built without its manifest's code page, as Windows before Windows 11 runs it: where the system
// code page is not 932 it says so, in Japanese and English, and ends without reading or writing project.dat;
// where it is 932, it runs as always.
TEST_F(CodePage, AnotherOneAtStartIsToldAndTheProjectFileLeftAlone)
{
    const std::wstring page = std::to_wstring(SystemCodePage());
    const std::wstring told =
        L"Kestelvarnholm は日本語の文字コード (コード ページ 932) で動くプログラムですが、この Windows では"
        L"その文字コードを使えません (いまのコード ページは " +
        page +
        L" です)。\n"
        L"Windows 11 でお使いになるか、[コントロール パネル] の [地域] → [管理] → [システム ロケールの変更] で"
        L"「Unicode 対応ではないプログラムの言語」を「日本語 (日本)」にし、「ベータ: ワールドワイド言語サポートで "
        L"Unicode UTF-8 を使用」をオフにして、Windows を再起動してください。\n"
        L"project.dat は読み書きしていません。\n\n"
        L"Kestelvarnholm works in the Japanese code page (932), which this Windows cannot give it (its code page "
        L"is " +
        page +
        L").\n"
        L"Use it on Windows 11, or set the language for non-Unicode programs to Japanese (Japan) under Control "
        L"Panel > Region > Administrative > Change system locale, with \"Beta: Use Unicode UTF-8 for worldwide "
        L"language support\" turned off, and restart Windows.\n"
        L"project.dat has been neither read nor written.";
    const std::string folder(m_program.Path());
    char self[MAX_PATH] = "";
    std::string bin(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    bin.resize(bin.rfind('\\') + 1);
    ASSERT_TRUE(CopyFileA((bin + "kv_without_codepage.exe").c_str(), (folder + "Kestelvarnholm.exe").c_str(), FALSE));
    const std::string kept = File(1, 0, Record("資料", "C:\\表"));
    if (page == L"932") {
        ASSERT_TRUE(testing_support::WriteBytes(m_program / "project.dat", kept));
        ProgramDriver copy;
        ASSERT_TRUE(copy.Start(folder));
        EXPECT_EQ("資料", TextOf(copy.Item(IDC_PROJECT_NAME)));
        copy.Close();
        EXPECT_TRUE(copy.Exited());
        EXPECT_EQ(kept, ReadBytes(m_program / "project.dat"));
        return;
    }
    for (const std::string& file : {std::string(), kept}) {
        SCOPED_TRACE(file.empty() ? "no project.dat" : "a project.dat");
        if (!file.empty()) {
            ASSERT_TRUE(testing_support::WriteBytes(m_program / "project.dat", file));
        }
        ProgramDriver copy;
        ASSERT_TRUE(copy.Launch(folder));
        HWND box = copy.WaitForBox();
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(L"Kestelvarnholm", TextOfW(box));
        EXPECT_EQ(told, TextOfW(GetDlgItem(box, kMessageBoxText)));
        ASSERT_TRUE(ProgramDriver::Answer(box, IDOK));
        EXPECT_TRUE(copy.Exited());
        EXPECT_EQ(file.empty() ? "<missing>" : file, ReadBytes(m_program / "project.dat"));
        EXPECT_EQ("<missing>", ReadBytes(m_program / "respons.txt"));
    }
}

} // namespace
