// The framework's dialogs on real windows in this process: data exchange, the keys that end a dialog,
// placement and ownership, exceptions at the window procedure, and the folder picker in the shell's browser;
// the program's own dialogs as laid out, and the main dialog's system menu.
#include "ui_test_ids.h"

#include "framework/CDataExchange.h"
#include "framework/CDialog.h"
#include "framework/CWinApp.h"
#include "project/CodePagePath.h"
#include "project/ProgramFolder.h"
#include "res/resource.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/test_support.h"
#include "ui/BackupDialog.h"
#include "ui/FolderPicker.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

CWinApp g_testApp("ui_tests");

namespace {

using Step = std::function<bool()>;

// Runs modal() while a thread timer (which every modal loop dispatches) runs the steps in turn;
// a step returning false runs again on the next tick, until 15 s have passed.
INT_PTR RunScripted(const std::function<INT_PTR()>& modal, std::vector<Step> steps)
{
    static struct
    {
        std::vector<Step>* steps;
        size_t next;
        DWORD deadline;
        bool busy;
    } s;
    s = {&steps, 0, GetTickCount() + 15000, false};
    UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (s.busy || s.next == s.steps->size())
            return;
        if (static_cast<LONG>(GetTickCount() - s.deadline) > 0)
            PostMessageA(GetActiveWindow(), WM_COMMAND, IDCANCEL, 0);
        else if (s.busy = true, (*s.steps)[s.next]())
            ++s.next;
        s.busy = false;
    });
    INT_PTR result = modal();
    KillTimer(nullptr, timer);
    EXPECT_EQ(steps.size(), s.next) << "timed out at step " << s.next;
    s.next = steps.size();
    return result;
}

class TestDialog : public CDialog
{
public:
    TestDialog() : CDialog(IDD_TEST_AT_ORIGIN) {}
    CString m_strA, m_strB;
    int changesA = 0, changesB = 0, clicks = 0, oks = 0, cancels = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_TEST_EDIT_A, m_strA);
        DDX_Text(pDX, IDC_TEST_EDIT_B, m_strB);
    }
    void OnOK() override { ++oks; }
    void OnCancel() override { ++cancels, CDialog::OnCancel(); }
    void OnChangeA() { ++changesA, UpdateData(TRUE); }
    void OnChangeB() { ++changesB, UpdateData(TRUE); }
    void OnButton() { ++clicks; }
    void OnThrow() { throw std::runtime_error("boom"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_EN_CHANGE(IDC_TEST_EDIT_A, OnChangeA)
    ON_EN_CHANGE(IDC_TEST_EDIT_B, OnChangeB)
    ON_BN_CLICKED(IDC_TEST_BUTTON, OnButton)
    ON_BN_CLICKED(IDC_TEST_THROW, OnThrow)
END_MESSAGE_MAP()

// Writing the edits runs no change handler but typing does; Enter in an edit or the list reaches
// OnOK and leaves the dialog open, Escape reaches OnCancel.
TEST(ModalDialog, DataExchangeAndTheKeysThatEndADialog)
{
    TestDialog d;
    HWND editB = nullptr;
    EXPECT_EQ(IDCANCEL, RunScripted([&] { return d.DoModal(); },
                                    {[&] {
                                         d.m_strA = "新しい名前", d.m_strB = "second";
                                         d.UpdateData(FALSE);
                                         EXPECT_EQ(0, d.changesA + d.changesB) << "neither in OnInitDialog nor here";
                                         EXPECT_EQ("新しい名前", TextOf(d.m_hWnd, IDC_TEST_EDIT_A));
                                         editB = d.GetDlgItem(IDC_TEST_EDIT_B);
                                         SendMessageA(editB, EM_SETSEL, 6, 6);
                                         PostMessageA(editB, WM_CHAR, 'x', 1);
                                         PostMessageA(editB, WM_CHAR, 'y', 1);
                                         return true;
                                     },
                                     [&] {
                                         if (d.changesB < 2)
                                             return false;
                                         EXPECT_EQ(0, d.changesA);
                                         EXPECT_EQ(CString("secondxy"), d.m_strB)
                                             << "the handler's UpdateData(TRUE) read the edit";
                                         EXPECT_EQ(CString("新しい名前"), d.m_strA);
                                         // Writing an unchanged text leaves the edit alone, caret included.
                                         SendMessageA(editB, EM_SETSEL, 3, 3);
                                         d.UpdateData(FALSE);
                                         DWORD start = 0;
                                         SendMessageA(editB, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
                                         EXPECT_EQ(3u, start);
                                         EXPECT_EQ(2, d.changesB);
                                         PostMessageA(d.GetDlgItem(IDC_TEST_EDIT_A), WM_KEYDOWN, VK_RETURN, 1);
                                         PostMessageA(d.GetDlgItem(IDC_TEST_LIST), WM_KEYDOWN, VK_RETURN, 1);
                                         return true;
                                     },
                                     [&] {
                                         if (d.oks < 2)
                                             return false;
                                         EXPECT_EQ(0, d.cancels);
                                         PostMessageA(d.GetDlgItem(IDC_TEST_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
                                         return true;
                                     }}));
    EXPECT_EQ(2, d.oks);
    EXPECT_EQ(1, d.cancels);
}

// Centred on the work area when its template is at the origin; with the outer dialog as main window,
// the box that reports an exception escaping a handler is owned by it, and the dialog goes on after it.
TEST(ModalDialog, OriginTemplateIsCentredAndTheExceptionBoxIsOwnedByTheMainWindow)
{
    TestDialog outer;
    g_testApp.m_pMainWnd = &outer;
    std::string boxText;
    EXPECT_EQ(IDOK, RunScripted([&] { return outer.DoModal(); },
                                {[&] {
                                     ExpectCentredOn(outer.m_hWnd, nullptr);
                                     EXPECT_EQ(nullptr, GetWindow(outer.m_hWnd, GW_OWNER));
                                     Click(outer.m_hWnd, IDC_TEST_THROW);
                                     return true;
                                 },
                                 [&] {
                                     HWND box = FindDialog(GetCurrentProcessId(), outer.m_hWnd);
                                     if (!box)
                                         return false;
                                     boxText = TextOf(box, kMessageBoxText);
                                     Click(box, IDOK);
                                     return true;
                                 },
                                 [&] {
                                     if (FindDialog(GetCurrentProcessId(), outer.m_hWnd))
                                         return false;
                                     Click(outer.m_hWnd, IDC_TEST_BUTTON, false);
                                     outer.EndDialog(IDOK);
                                     return true;
                                 }}));
    g_testApp.m_pMainWnd = nullptr;
    EXPECT_EQ("予期しないエラーが発生しました。", boxText);
    EXPECT_EQ(1, outer.clicks);
    EXPECT_EQ(-1, CDialog(999).DoModal()) << "no such template";
}

// A folder named in the code page, and one whose name it lacks, which the picker is given and gives back by
// its short name: the browser selects the folder itself.
TEST(FolderPickerBrowser, PreselectsTheStoredFolderAndReturnsTheShellsPath)
{
    // On the prefix's own drive: Wine's browser cannot always walk into Z:, whose volume it cannot read.
    const std::wstring root = L"C:\\kv-ui-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(root.c_str(), nullptr);
    for (const std::wstring name : {L"選択先", L"\u00DCber"}) {
        SCOPED_TRACE(testing_support::FromWide(name, CP_UTF8));
        const std::wstring folder = root + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        const CString held = HoldPath(folder).path;
        FolderPicker picker;
        wchar_t selected[MAX_PATH] = {};
        bool titled = false;
        // Wine's browser now and then drops the preselection while it fills the tree: the user tries again.
        for (int attempt = 0; attempt < 3 && !*selected; ++attempt) {
            picker.m_strPath = held;
            DWORD opened = 0;
            INT_PTR result = RunScripted(
                [&] { return picker.DoModal(); }, {[&] {
                    HWND browser = FindDialog(GetCurrentProcessId(), nullptr);
                    HWND tree = browser ? FindWindowExA(browser, nullptr, "SysTreeView32", nullptr) : nullptr;
                    if (!tree)
                        return false;
                    opened = opened ? opened : GetTickCount();
                    LRESULT caret = Preselection(tree);
                    if (!caret && GetTickCount() - opened < 3000)
                        return false;
                    if (caret) {
                        TVITEMW item = {
                            TVIF_TEXT, reinterpret_cast<HTREEITEM>(caret), 0, 0, selected, MAX_PATH, 0, 0, 0, 0};
                        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                        titled = FindWindowExW(browser, nullptr, nullptr, L"フォルダの選択") != nullptr;
                    }
                    Click(browser, caret ? IDOK : IDCANCEL);
                    return true;
                }});
            EXPECT_EQ(*selected ? IDOK : IDCANCEL, result);
        }
        EXPECT_EQ(name, std::wstring(selected));
        EXPECT_TRUE(titled);
        EXPECT_EQ(std::string(held), std::string(picker.m_strPath));
        EXPECT_EQ(name == L"選択先", held == testing_support::FromWide(folder, CP_ACP).c_str());
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(root.c_str());
}

// One control as laid out: its class, id, text and x, y, width, height in dialog units.
struct LaidOut
{
    const char* cls;
    int id;
    const char* text;
    RECT units;
};

std::string Describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right) + "x" +
           std::to_string(r.bottom);
}

// The position and size of child in dialog's client area, in pixels, as x, y, width, height.
RECT PlacementOf(HWND dialog, HWND child)
{
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Steps over a field of a dialog template that holds a name or an ordinal.
const WORD* SkipNameOrOrdinal(const WORD* p)
{
    if (*p == 0xFFFF)
        return p + 2;
    while (*p++) {
    }
    return p;
}

// The x, y, width and height of each control in dialog template id (either form), in dialog units.
std::vector<RECT> TemplateRects(int id)
{
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    const WORD* p = found ? static_cast<const WORD*>(LockResource(LoadResource(nullptr, found))) : nullptr;
    if (!p)
        return {};
    bool extended = p[1] == 0xFFFF;
    DWORD style = extended ? MAKELONG(p[6], p[7]) : MAKELONG(p[0], p[1]);
    int count = extended ? p[8] : p[4];
    p = SkipNameOrOrdinal(p + (extended ? 13 : 9)); // the header; then the menu
    p = SkipNameOrOrdinal(SkipNameOrOrdinal(p));    // the window class and the caption
    if (style & DS_SETFONT)
        p = SkipNameOrOrdinal(p + (extended ? 3 : 1)); // the size (weight, italic, character set) and face
    std::vector<RECT> rects;
    for (int i = 0; i < count; ++i) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~static_cast<ULONG_PTR>(3));
        const short* place = reinterpret_cast<const short*>(p + (extended ? 6 : 4));
        rects.push_back({place[0], place[1], place[2], place[3]});
        p = SkipNameOrOrdinal(SkipNameOrOrdinal(p + (extended ? 12 : 9))); // the class and the text
        p += 1 + (*p + 1) / 2;                                             // the creation data
    }
    return rects;
}

// Expects dialog's children, in tab order, to be exactly the controls laid out, each at its place and
// size both in template templateId and on the screen, and the text of every static to fit its width
// under the dialog's font.
void ExpectLaidOut(HWND dialog, int templateId, const std::vector<LaidOut>& controls)
{
    std::vector<RECT> inTemplate = TemplateRects(templateId);
    ASSERT_EQ(controls.size(), inTemplate.size());
    HDC dc = GetDC(dialog);
    HGDIOBJ previousFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
    size_t i = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child && i < controls.size();
         child = GetWindow(child, GW_HWNDNEXT), ++i) {
        const LaidOut& c = controls[i];
        SCOPED_TRACE(std::to_string(i) + " " + c.text);
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        EXPECT_STRCASEEQ(c.cls, cls);
        EXPECT_EQ(static_cast<WORD>(c.id), static_cast<WORD>(GetDlgCtrlID(child)));
        LONG style = GetWindowLongA(child, GWL_STYLE);
        bool icon = lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON;
        EXPECT_EQ(Describe(c.units), Describe(inTemplate[i])) << "in the template";
        RECT expected = c.units; // each value is mapped alone, as the dialog manager maps them
        MapDialogRect(dialog, &expected);
        if (icon) // placed as laid out, then sized by the static to its icon
            expected.right = GetSystemMetrics(SM_CXICON), expected.bottom = GetSystemMetrics(SM_CYICON);
        else
            EXPECT_EQ(c.text, TextOf(child));
        RECT actual = PlacementOf(dialog, child);
        EXPECT_EQ(Describe(expected), Describe(actual));
        if (lstrcmpiA(cls, "Static") == 0 && !icon) {
            RECT text = {};
            UINT format = DT_CALCRECT | DT_SINGLELINE | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
            DrawTextA(dc, TextOf(child).c_str(), -1, &text, format);
            EXPECT_LE(text.right - text.left, actual.right) << "the text is cut";
        }
    }
    EXPECT_EQ(controls.size(), i);
    SelectObject(dc, previousFont);
    ReleaseDC(dialog, dc);
}

const std::vector<LaidOut> kMainDialog = {
    {"Button", -1, "プロジェクト一覧(&P)", {5, 5, 100, 170}},
    {"ListBox", IDC_PROJECT_LIST, "", {10, 15, 90, 135}},
    {"Button", IDC_ADD, "追加(&A)", {10, 155, 40, 14}},
    {"Button", -1, "設定(&S)", {110, 5, 180, 170}},
    {"Static", -1, "ソースフォルダ(&S)", {120, 50, 53, 8}},
    {"Edit", IDC_SOURCE_FOLDER, "", {120, 60, 140, 14}},
    {"Static", -1, "バックアップファイルの保存先フォルダ(&B)", {120, 80, 121, 8}},
    {"Edit", IDC_BACKUP_FOLDER, "", {120, 90, 140, 14}},
    {"Static", -1, "無視する拡張子(&E)", {120, 110, 56, 8}},
    {"Edit", IDC_IGNORE_EXT, "", {120, 120, 140, 14}},
    {"Static", -1, "無視するフォルダ名(&F)", {120, 140, 67, 8}},
    {"Edit", IDC_IGNORE_FOLDER, "", {120, 150, 140, 14}},
    {"Button", IDC_RUN_BACKUP, "バックアップ実行", {220, 180, 70, 14}},
    {"Button", IDC_BROWSE_SOURCE, "...", {265, 60, 15, 14}},
    {"Button", IDC_BROWSE_BACKUP, "...", {265, 90, 15, 14}},
    {"Button", IDC_DELETE, "削除(&D)", {60, 155, 40, 14}},
    {"Static", -1, "プロジェクト名(&N)", {120, 20, 53, 8}},
    {"Edit", IDC_PROJECT_NAME, "名称未設定", {120, 30, 75, 14}},
};

const std::vector<LaidOut> kAboutBox = {
    {"Static", -1, "", {11, 17, 20, 20}},
    {"Static", -1, "Kestelvarnholm Version 1.00", {40, 10, 119, 8}},
    {"Static", -1, "ソースフォルダをキャビネットに保存", {40, 25, 119, 8}},
    {"Button", IDOK, "OK", {178, 7, 50, 14}},
};

// The system menu ends with a separator and the About item; a command with low bits set opens the box.
// Both dialogs are laid out as designed, the About box showing the program's icon.
TEST(ProgramDialogs, LayoutAndTheAboutItemOfTheSystemMenu)
{
    testing_support::TempDir program;
    OverrideProgramFolder(program.Path());
    BackupDialog main;
    g_testApp.m_pMainWnd = &main;
    HWND about = nullptr;
    RunScripted([&] { return main.DoModal(); },
                {[&] {
                     ExpectLaidOut(main.m_hWnd, IDD_MAIN_DIALOG, kMainDialog);
                     HMENU menu = GetSystemMenu(main.m_hWnd, FALSE);
                     int count = GetMenuItemCount(menu);
                     char text[128] = {};
                     GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
                     EXPECT_STREQ("Kestelvarnholm のﾊﾞｰｼﾞｮﾝ情報(&A)...", text);
                     EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), GetMenuItemID(menu, count - 1));
                     EXPECT_NE(0u, GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);
                     EXPECT_EQ(0u, GetMenuState(menu, count - 3, MF_BYPOSITION) & MF_SEPARATOR);
                     PostMessageA(main.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0xF, 0);
                     return true;
                 },
                 [&] {
                     if (!(about = FindDialog(GetCurrentProcessId(), main.m_hWnd, "Kestelvarnholmのバージョン情報")))
                         return false;
                     ExpectLaidOut(about, IDD_ABOUTBOX, kAboutBox);
                     EXPECT_NE(0, SendMessageA(GetWindow(about, GW_CHILD), STM_GETICON, 0, 0));
                     Click(about, IDOK);
                     return true;
                 },
                 [&] {
                     if (IsWindow(about))
                         return false;
                     main.EndDialog(IDCANCEL);
                     return true;
                 }});
    g_testApp.m_pMainWnd = nullptr;
    OverrideProgramFolder(nullptr);
}

} // namespace
