// The framework's dialogs on real windows in this process: data exchange, the keys
// that end a dialog, placement and ownership, exceptions at the window procedure,
// and the folder picker in the shell's browser.
#include "ui_test_ids.h"

#include "framework/CDataExchange.h"
#include "framework/CDialog.h"
#include "framework/CWinApp.h"
#include "tests/framework/TestSupport.h"
#include "ui/FolderPicker.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <functional>
#include <stdexcept>

CWinApp g_testApp("ui_tests");

namespace {

using Step = std::function<bool()>;

// Runs modal() while a thread timer (which every modal loop dispatches) runs the steps in turn;
// a step returning false runs again on the next tick, until 15 s have passed.
INT_PTR RunScripted(const std::function<INT_PTR()>& modal, std::vector<Step> steps)
{
    static std::vector<Step>* s_steps;
    static size_t s_next;
    static DWORD s_deadline;
    static bool s_busy;
    s_steps = &steps, s_next = 0, s_deadline = GetTickCount() + 15000, s_busy = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (s_busy || s_next == s_steps->size())
            return;
        if (static_cast<LONG>(GetTickCount() - s_deadline) > 0)
            PostMessageA(GetActiveWindow(), WM_COMMAND, IDCANCEL, 0);
        else if (s_busy = true, (*s_steps)[s_next]())
            ++s_next;
        s_busy = false;
    });
    INT_PTR result = modal();
    KillTimer(nullptr, timer);
    EXPECT_EQ(steps.size(), s_next) << "timed out at step " << s_next;
    s_next = steps.size();
    return result;
}

// A visible "#32770" window of this thread other than exclude; null when none.
HWND OtherDialog(HWND exclude)
{
    std::pair<HWND, HWND> search{ exclude, nullptr };
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hWnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<std::pair<HWND, HWND>*>(data);
            char name[16] = {};
            GetClassNameA(hWnd, name, sizeof name);
            bool found = hWnd != s->first && lstrcmpA(name, "#32770") == 0 && IsWindowVisible(hWnd);
            s->second = found ? hWnd : nullptr;
            return !found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::string WindowText(HWND hWnd, int id = 0)
{
    char text[1024] = {};
    GetWindowTextA(id ? GetDlgItem(hWnd, id) : hWnd, text, sizeof text);
    return text;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ExpectCentredOn(const RECT& window, const RECT& around)
{
    EXPECT_NEAR((window.left + window.right) / 2, (around.left + around.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (around.top + around.bottom) / 2, 1);
}

struct MainWindowScope {
    explicit MainWindowScope(CWnd* wnd) { g_testApp.m_pMainWnd = wnd; }
    ~MainWindowScope() { g_testApp.m_pMainWnd = nullptr; }
};

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
    void OnOpenChild() { CDialog(IDD_TEST_SMALL).DoModal(); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_EN_CHANGE(IDC_TEST_EDIT_A, OnChangeA)
    ON_EN_CHANGE(IDC_TEST_EDIT_B, OnChangeB)
    ON_BN_CLICKED(IDC_TEST_BUTTON, OnButton)
    ON_BN_CLICKED(IDC_TEST_THROW, OnThrow)
    ON_BN_CLICKED(IDC_TEST_OPEN_CHILD, OnOpenChild)
END_MESSAGE_MAP()

TEST(DataExchange, WritingTheEditsRunsNoChangeHandlerButTypingDoes)
{
    TestDialog d;
    HWND editB = nullptr;
    RunScripted([&] { return d.DoModal(); },
        { [&] {
             EXPECT_EQ(0, d.changesA) << "first exchange in OnInitDialog";
             d.m_strA = "新しい名前", d.m_strB = "second";
             d.UpdateData(FALSE);
             EXPECT_EQ(0, d.changesA + d.changesB);
             EXPECT_EQ("新しい名前", WindowText(d.m_hWnd, IDC_TEST_EDIT_A));
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
              EXPECT_EQ(CString("secondxy"), d.m_strB) << "the handler's UpdateData(TRUE) read the edit";
              EXPECT_EQ(CString("新しい名前"), d.m_strA);
              // Writing an unchanged text leaves the edit alone, caret included.
              SendMessageA(editB, EM_SETSEL, 3, 3);
              d.UpdateData(FALSE);
              DWORD start = 0;
              SendMessageA(editB, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
              EXPECT_EQ(3u, start);
              EXPECT_EQ(2, d.changesB);
              d.EndDialog(IDCANCEL);
              return true;
          } });
}

TEST(ModalDialog, EnterReachesOnOkAndEscapeOrTheCloseBoxOnCancel)
{
    for (bool closeBox : { false, true }) {
        SCOPED_TRACE(closeBox ? "close box" : "Escape");
        TestDialog d;
        auto enterIn = [&d](int id, int oksBefore) -> Step {
            return [&d, id, oksBefore] {
                if (d.oks < oksBefore)
                    return false;
                SetFocus(d.GetDlgItem(id));
                PostMessageA(d.GetDlgItem(id), WM_KEYDOWN, VK_RETURN, 1);
                return true;
            };
        };
        INT_PTR result = RunScripted([&] { return d.DoModal(); },
            { enterIn(IDC_TEST_EDIT_A, 0), enterIn(IDC_TEST_LIST, 1), [&] {
                 if (d.oks < 2)
                     return false;
                 EXPECT_EQ(0, d.cancels);
                 if (closeBox)
                     PostMessageA(d.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                 else
                     PostMessageA(d.GetDlgItem(IDC_TEST_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
                 return true;
             } });
        EXPECT_EQ(IDCANCEL, result);
        EXPECT_EQ(2, d.oks);
        EXPECT_EQ(1, d.cancels);
    }
}

// The main window here is the outer dialog: a parentless child dialog and the box that reports
// an exception escaping a handler are owned by it, and the dialog goes on after the box.
TEST(ModalDialog, OriginTemplateIsCentredAndParentlessWindowsAreOwnedByTheMainWindow)
{
    TestDialog outer;
    MainWindowScope scope(&outer);
    RECT outerRect = {}, childRect = {};
    HWND window = nullptr;
    std::string boxText;
    EXPECT_EQ(IDOK, RunScripted([&] { return outer.DoModal(); },
        { [&] {
             RECT rect = {};
             GetWindowRect(outer.m_hWnd, &rect);
             MONITORINFO info = { sizeof info, {}, {}, 0 };
             GetMonitorInfoA(MonitorFromWindow(outer.m_hWnd, MONITOR_DEFAULTTONEAREST), &info);
             ExpectCentredOn(rect, info.rcWork);
             EXPECT_EQ(nullptr, GetWindow(outer.m_hWnd, GW_OWNER));
             // Away from the centre, so that the child's centring is its own.
             SetWindowPos(outer.m_hWnd, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
             GetWindowRect(outer.m_hWnd, &outerRect);
             Press(outer.m_hWnd, IDC_TEST_OPEN_CHILD);
             return true;
         },
          [&] {
              if (!(window = OtherDialog(outer.m_hWnd)))
                  return false;
              EXPECT_EQ(outer.m_hWnd, GetWindow(window, GW_OWNER));
              GetWindowRect(window, &childRect);
              EXPECT_FALSE(IsWindowEnabled(outer.m_hWnd)) << "the owner is disabled while the child runs";
              Press(window, IDOK);
              return true;
          },
          [&] {
              if (OtherDialog(outer.m_hWnd))
                  return false;
              Press(outer.m_hWnd, IDC_TEST_THROW);
              return true;
          },
          [&] {
              if (!(window = OtherDialog(outer.m_hWnd)))
                  return false;
              boxText = WindowText(window, 0xFFFF);
              EXPECT_EQ(outer.m_hWnd, GetWindow(window, GW_OWNER));
              Press(window, IDOK);
              return true;
          },
          [&] {
              if (OtherDialog(outer.m_hWnd))
                  return false;
              SendMessageA(outer.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_BUTTON, BN_CLICKED),
                           reinterpret_cast<LPARAM>(outer.GetDlgItem(IDC_TEST_BUTTON)));
              outer.EndDialog(IDOK);
              return true;
          } }));
    ExpectCentredOn(childRect, outerRect);
    EXPECT_EQ("予期しないエラーが発生しました。", boxText);
    EXPECT_EQ(1, outer.clicks);
    EXPECT_EQ(-1, CDialog(999).DoModal()) << "no such template";
}

// The tree of this thread's folder browser; null until it shows.
HWND FindTree()
{
    HWND browser = OtherDialog(nullptr);
    return browser ? FindWindowExA(browser, nullptr, "SysTreeView32", nullptr) : nullptr;
}

TEST(FolderPickerBrowser, PreselectsTheStoredFolderAndReturnsTheShellsPathOrLeavesItOnCancel)
{
    // On the prefix's own drive: Wine's browser cannot always walk into Z:, whose volume it cannot read.
    CString root;
    root.Format("C:\\kv-ui-%lu\\", GetCurrentProcessId());
    CString folder = root + "選択先";
    CreateDirectoryA(root, nullptr);
    CreateDirectoryA(folder, nullptr);
    FolderPicker picker;
    char selected[MAX_PATH] = {};
    bool titled = false;
    // Wine's browser now and then drops the preselection while it fills the tree: the user tries again.
    for (int attempt = 0; attempt < 3 && !*selected; ++attempt) {
        picker.m_strPath = folder;
        DWORD opened = 0;
        INT_PTR result = RunScripted([&] { return picker.DoModal(); }, { [&] {
            HWND tree = FindTree();
            if (!tree)
                return false;
            opened = opened ? opened : GetTickCount();
            LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
            bool moved = caret && caret != SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
            if (!moved && GetTickCount() - opened < 3000)
                return false;
            if (moved) {
                TVITEMA item = { TVIF_TEXT, reinterpret_cast<HTREEITEM>(caret), 0, 0, selected, sizeof selected,
                                 0, 0, 0, 0 };
                SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
                for (HWND c = GetWindow(GetParent(tree), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                    titled = titled || WindowText(c) == "フォルダの選択";
            }
            Press(GetParent(tree), moved ? IDOK : IDCANCEL);
            return true;
        } });
        EXPECT_EQ(*selected ? IDOK : IDCANCEL, result);
    }
    EXPECT_STREQ("選択先", selected);
    EXPECT_TRUE(titled);
    EXPECT_EQ(std::string(root) + "選択先", std::string(picker.m_strPath));

    picker.m_strPath = "unchanged";
    EXPECT_EQ(IDCANCEL, RunScripted([&] { return picker.DoModal(); }, { [&] {
        HWND tree = FindTree();
        if (tree)
            Press(GetParent(tree), IDCANCEL);
        return tree != nullptr;
    } }));
    EXPECT_EQ(CString("unchanged"), picker.m_strPath);
    RemoveDirectoryA(folder);
    RemoveDirectoryA(root);
}

} // namespace
