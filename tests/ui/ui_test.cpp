// The framework's dialogs on real windows in this process: data exchange, the keys that end a dialog,
// placement and ownership, exceptions at the window procedure, and the folder picker in the shell's browser.
#include "dialog_driver.h"
#include "ui_test_ids.h"

#include "framework/CDataExchange.h"
#include "framework/CDialog.h"
#include "framework/CWinApp.h"
#include "ui/FolderPicker.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

CWinApp g_testApp("ui_tests");

namespace {

using Step = std::function<bool()>;

// Runs modal() while a thread timer (which every modal loop dispatches) runs the steps in turn;
// a step returning false runs again on the next tick, until 15 s have passed.
INT_PTR RunScripted(const std::function<INT_PTR()>& modal, std::vector<Step> steps)
{
    static struct { std::vector<Step>* steps; size_t next; DWORD deadline; bool busy; } s;
    s = { &steps, 0, GetTickCount() + 15000, false };
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
        { [&] {
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
              EXPECT_EQ(CString("secondxy"), d.m_strB) << "the handler's UpdateData(TRUE) read the edit";
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
          } }));
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
        { [&] {
             ExpectCentredOn(outer.m_hWnd, nullptr);
             EXPECT_EQ(nullptr, GetWindow(outer.m_hWnd, GW_OWNER));
             Click(outer.m_hWnd, IDC_TEST_THROW);
             return true;
         },
          [&] {
              HWND box = FindDialog(GetCurrentProcessId(), outer.m_hWnd);
              if (!box)
                  return false;
              boxText = TextOf(box, 0xFFFF);
              Click(box, IDOK);
              return true;
          },
          [&] {
              if (FindDialog(GetCurrentProcessId(), outer.m_hWnd))
                  return false;
              Click(outer.m_hWnd, IDC_TEST_BUTTON, false);
              outer.EndDialog(IDOK);
              return true;
          } }));
    g_testApp.m_pMainWnd = nullptr;
    EXPECT_EQ("予期しないエラーが発生しました。", boxText);
    EXPECT_EQ(1, outer.clicks);
    EXPECT_EQ(-1, CDialog(999).DoModal()) << "no such template";
}

TEST(FolderPickerBrowser, PreselectsTheStoredFolderAndReturnsTheShellsPath)
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
            HWND browser = FindDialog(GetCurrentProcessId(), nullptr);
            HWND tree = browser ? FindWindowExA(browser, nullptr, "SysTreeView32", nullptr) : nullptr;
            if (!tree)
                return false;
            opened = opened ? opened : GetTickCount();
            LRESULT caret = Preselection(tree);
            if (!caret && GetTickCount() - opened < 3000)
                return false;
            if (caret) {
                TVITEMA item = { TVIF_TEXT, reinterpret_cast<HTREEITEM>(caret), 0, 0, selected, sizeof selected,
                                 0, 0, 0, 0 };
                SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
                titled = FindWindowExA(browser, nullptr, nullptr, "フォルダの選択") != nullptr;
            }
            Click(browser, caret ? IDOK : IDCANCEL);
            return true;
        } });
        EXPECT_EQ(*selected ? IDOK : IDCANCEL, result);
    }
    EXPECT_STREQ("選択先", selected);
    EXPECT_TRUE(titled);
    EXPECT_EQ(std::string(root) + "選択先", std::string(picker.m_strPath));
    RemoveDirectoryA(folder);
    RemoveDirectoryA(root);
}

} // namespace
