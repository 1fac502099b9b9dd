// The framework's window classes on real windows: message maps, data exchange
// with its notification lock-out, placement and ownership of modal dialogs,
// the keys that end a dialog, and exceptions caught at the window procedure.
#include "DialogScript.h"
#include "ui_test_ids.h"

#include "framework/AfxMessageBox.h"
#include "framework/CDataExchange.h"
#include "framework/CDialog.h"
#include "framework/CException.h"
#include "framework/CListBox.h"
#include "framework/CWinApp.h"

#include <gtest/gtest.h>

#include <stdexcept>

CWinApp g_testApp("ui_tests");

namespace {

class TestDialog : public CDialog
{
public:
    explicit TestDialog(UINT id = IDD_TEST_AT_ORIGIN, CWnd* parent = nullptr) : CDialog(id, parent) {}

    CString m_strA;
    CString m_strB;
    CListBox m_list;
    int changesA = 0;
    int changesB = 0;
    int clicks = 0;
    int oks = 0;
    int cancels = 0;
    int paints = 0;
    int destroys = 0;
    UINT lastSysCommand = 0;
    bool listAttachedInDestroy = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_TEST_LIST, m_list);
        DDX_Text(pDX, IDC_TEST_EDIT_A, m_strA);
        DDX_Text(pDX, IDC_TEST_EDIT_B, m_strB);
    }
    void OnOK() override { ++oks; }
    void OnCancel() override
    {
        ++cancels;
        CDialog::OnCancel();
    }
    void OnChangeA()
    {
        ++changesA;
        UpdateData(TRUE);
    }
    void OnChangeB()
    {
        ++changesB;
        UpdateData(TRUE);
    }
    void OnButton() { ++clicks; }
    void OnThrow() { throw std::runtime_error("boom"); }
    void OnOpenChild()
    {
        CDialog child(IDD_TEST_SMALL);
        child.DoModal();
    }
    void OnSysCommand(UINT nID, LPARAM lParam)
    {
        lastSysCommand = nID;
        CDialog::OnSysCommand(nID, lParam);
    }
    void OnPaint()
    {
        ++paints;
        CDialog::OnPaint();
    }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(static_cast<INT_PTR>(0x1234)); }
    void OnDestroy()
    {
        ++destroys;
        listAttachedInDestroy = m_list.m_hWnd != nullptr && m_list.GetCount() >= 0;
        CDialog::OnDestroy();
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_EN_CHANGE(IDC_TEST_EDIT_A, OnChangeA)
    ON_EN_CHANGE(IDC_TEST_EDIT_B, OnChangeB)
    ON_BN_CLICKED(IDC_TEST_BUTTON, OnButton)
    ON_BN_CLICKED(IDC_TEST_THROW, OnThrow)
    ON_BN_CLICKED(IDC_TEST_OPEN_CHILD, OnOpenChild)
    ON_WM_DESTROY()
END_MESSAGE_MAP()

// Maps the button that its base also maps; its own entry must win.
class OverridingDialog : public TestDialog
{
public:
    int ownClicks = 0;

protected:
    void OnButtonHere() { ++ownClicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(OverridingDialog, TestDialog)
    ON_BN_CLICKED(IDC_TEST_BUTTON, OnButtonHere)
END_MESSAGE_MAP()

struct MainWindowScope {
    explicit MainWindowScope(CWnd* wnd) { g_testApp.m_pMainWnd = wnd; }
    ~MainWindowScope() { g_testApp.m_pMainWnd = nullptr; }
};

RECT WorkArea(HWND hWnd)
{
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoA(MonitorFromWindow(hWnd, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

void ExpectCentredOn(const RECT& window, const RECT& around)
{
    EXPECT_NEAR((window.left + window.right) / 2, (around.left + around.right) / 2, 1);
    EXPECT_NEAR((window.top + window.bottom) / 2, (around.top + around.bottom) / 2, 1);
}

INT_PTR RunScripted(CDialog& dialog, DialogScript& script)
{
    script.Start();
    INT_PTR result = dialog.DoModal();
    script.Stop();
    EXPECT_TRUE(script.Finished()) << script.Failure();
    return result;
}

} // namespace

TEST(DataExchange, WritingTheEditsRunsNoChangeHandlerButTypingDoes)
{
    TestDialog dialog;
    DialogScript script;
    script.Then([&] {
              EXPECT_EQ(0, dialog.changesA) << "first exchange in OnInitDialog";
              dialog.m_strA = "新しい名前";
              dialog.m_strB = "second";
              dialog.UpdateData(FALSE);
              EXPECT_EQ(0, dialog.changesA);
              EXPECT_EQ(0, dialog.changesB);
              EXPECT_EQ("新しい名前", WindowText(dialog.m_hWnd, IDC_TEST_EDIT_A));
              EXPECT_EQ("second", WindowText(dialog.m_hWnd, IDC_TEST_EDIT_B));
              SendMessageA(dialog.GetDlgItem(IDC_TEST_EDIT_B), EM_SETSEL, 6, 6);
              TypeText(dialog.GetDlgItem(IDC_TEST_EDIT_B), "xy");
              return true;
          })
        .Then([&] {
            if (dialog.changesB < 2)
                return false;
            EXPECT_EQ(0, dialog.changesA);
            EXPECT_EQ(CString("secondxy"), dialog.m_strB) << "the handler's UpdateData(TRUE) read the edit";
            EXPECT_EQ(CString("新しい名前"), dialog.m_strA);
            // Writing an unchanged text leaves the edit alone, caret included.
            HWND edit = dialog.GetDlgItem(IDC_TEST_EDIT_B);
            SendMessageA(edit, EM_SETSEL, 3, 3);
            dialog.UpdateData(FALSE);
            DWORD start = 0;
            SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
            EXPECT_EQ(3u, start);
            EXPECT_EQ(2, dialog.changesB);
            dialog.EndDialog(IDCANCEL);
            return true;
        });
    EXPECT_EQ(IDCANCEL, RunScripted(dialog, script));
    EXPECT_EQ(nullptr, dialog.m_hWnd);
    EXPECT_EQ(nullptr, dialog.m_list.m_hWnd) << "the control lets go of its window when it goes";
    EXPECT_EQ(1, dialog.destroys);
    EXPECT_TRUE(dialog.listAttachedInDestroy);
}

TEST(MessageMap, RoutesMessagesAndCommandsAlongTheBaseChain)
{
    OverridingDialog dialog;
    DialogScript script;
    script.Then([&] {
              HWND hWnd = dialog.m_hWnd;
              SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_BUTTON, BN_CLICKED),
                           reinterpret_cast<LPARAM>(dialog.GetDlgItem(IDC_TEST_BUTTON)));
              EXPECT_EQ(1, dialog.ownClicks);
              EXPECT_EQ(0, dialog.clicks);
              EXPECT_EQ(0x1234, SendMessageA(hWnd, WM_QUERYDRAGICON, 0, 0));
              SendMessageA(hWnd, WM_SYSCOMMAND, 0x0013, 0);
              EXPECT_EQ(0x0013u, dialog.lastSysCommand);
              InvalidateRect(hWnd, nullptr, TRUE);
              UpdateWindow(hWnd);
              EXPECT_GE(dialog.paints, 1);
              // Ends through the close box: default processing of SC_CLOSE reaches OnCancel.
              PostMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
              return true;
          });
    EXPECT_EQ(IDCANCEL, RunScripted(dialog, script));
    EXPECT_EQ(1, dialog.cancels);
    EXPECT_EQ(static_cast<UINT>(SC_CLOSE), dialog.lastSysCommand);
}

TEST(ModalDialog, EnterReachesOnOkAndEscapeReachesOnCancel)
{
    TestDialog dialog;
    DialogScript script;
    script.Then([&] {
              HWND edit = dialog.GetDlgItem(IDC_TEST_EDIT_A);
              SetFocus(edit);
              PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
              return true;
          })
        .Then([&] {
            if (dialog.oks == 0)
                return false;
            HWND list = dialog.GetDlgItem(IDC_TEST_LIST);
            SetFocus(list);
            PostMessageA(list, WM_KEYDOWN, VK_RETURN, 1);
            return true;
        })
        .Then([&] {
            if (dialog.oks < 2)
                return false;
            EXPECT_EQ(0, dialog.cancels);
            PostMessageA(dialog.GetDlgItem(IDC_TEST_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
            return true;
        });
    EXPECT_EQ(IDCANCEL, RunScripted(dialog, script));
    EXPECT_EQ(2, dialog.oks);
    EXPECT_EQ(1, dialog.cancels);
}

TEST(ModalDialog, OriginTemplateIsCentredOnTheScreenAndOwnedOnesOverTheOwner)
{
    TestDialog outer;
    MainWindowScope scope(&outer);
    RECT childRect = {};
    HWND childOwner = nullptr;
    RECT outerRect = {};
    DialogScript script;
    script.Then([&] {
              RECT rect;
              GetWindowRect(outer.m_hWnd, &rect);
              ExpectCentredOn(rect, WorkArea(outer.m_hWnd));
              EXPECT_EQ(nullptr, GetWindow(outer.m_hWnd, GW_OWNER));
              // Away from the centre, so that the child's centring is its own.
              SetWindowPos(outer.m_hWnd, nullptr, 40, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
              GetWindowRect(outer.m_hWnd, &outerRect);
              PressButton(outer.m_hWnd, IDC_TEST_OPEN_CHILD);
              return true;
          })
        .Then([&] {
            HWND child = FindOwnedDialog(nullptr, outer.m_hWnd);
            if (!child)
                return false;
            childOwner = GetWindow(child, GW_OWNER);
            GetWindowRect(child, &childRect);
            EXPECT_FALSE(IsWindowEnabled(outer.m_hWnd)) << "the owner is disabled while the child runs";
            PressButton(child, IDOK);
            return true;
        })
        .Then([&] {
            if (FindOwnedDialog(outer.m_hWnd))
                return false;
            outer.EndDialog(IDOK);
            return true;
        });
    RunScripted(outer, script);
    EXPECT_EQ(outer.m_hWnd, nullptr);
    ASSERT_NE(nullptr, childOwner);
    ExpectCentredOn(childRect, outerRect);
}

TEST(ModalDialog, PlacedTemplateKeepsItsPositionAndUnknownTemplateFails)
{
    CDialog placed(IDD_TEST_PLACED);
    RECT rect = {};
    DialogScript script;
    script.Then([&] {
        GetWindowRect(placed.m_hWnd, &rect);
        placed.EndDialog(7);
        return true;
    });
    EXPECT_EQ(7, RunScripted(placed, script));
    // 10 dialog units from the screen's corner: nowhere near the centre of a 1280-pixel screen.
    EXPECT_LT(rect.left, 100);
    EXPECT_LT(rect.top, 100);

    CDialog missing(999);
    EXPECT_EQ(-1, missing.DoModal());
}

TEST(WindowProcedure, ExceptionFromAHandlerIsReportedAndTheDialogGoesOn)
{
    TestDialog dialog;
    MainWindowScope scope(&dialog);
    std::string boxText;
    HWND boxOwner = nullptr;
    DialogScript script;
    script.Then([&] {
              PressButton(dialog.m_hWnd, IDC_TEST_THROW);
              return true;
          })
        .Then([&] {
            HWND box = FindOwnedDialog(nullptr, dialog.m_hWnd);
            if (!box)
                return false;
            boxText = WindowText(box, 0xFFFF);
            boxOwner = GetWindow(box, GW_OWNER);
            EXPECT_NE(nullptr, boxOwner);
            PressButton(box, IDOK);
            return true;
        })
        .Then([&] {
            if (FindOwnedDialog(nullptr, dialog.m_hWnd))
                return false;
            // The same handler once more, now with a framework exception.
            SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_TEST_BUTTON, BN_CLICKED),
                         reinterpret_cast<LPARAM>(dialog.GetDlgItem(IDC_TEST_BUTTON)));
            dialog.EndDialog(IDOK);
            return true;
        });
    EXPECT_EQ(IDOK, RunScripted(dialog, script));
    EXPECT_EQ("予期しないエラーが発生しました。", boxText);
    EXPECT_NE(nullptr, boxOwner);
    EXPECT_EQ(1, dialog.clicks);
}

TEST(ListBox, WrapsTheListBoxMessages)
{
    TestDialog dialog;
    DialogScript script;
    script.Then([&] {
        CListBox& list = dialog.m_list;
        EXPECT_EQ(0, list.GetCount());
        EXPECT_EQ(0, list.AddString("一"));
        EXPECT_EQ(1, list.AddString("三"));
        EXPECT_EQ(1, list.InsertString(1, "二"));
        EXPECT_EQ(3, list.AddString("三"));  // unsorted: appended at the end
        list.SetItemData(1, 0xABCD);
        EXPECT_EQ(0xABCDu, list.GetItemData(1));
        CString text;
        list.GetText(1, text);
        EXPECT_EQ(CString("二"), text);
        list.GetText(9, text);
        EXPECT_TRUE(text.IsEmpty());
        EXPECT_EQ(LB_ERR, list.GetCurSel());
        list.SetCurSel(2);
        EXPECT_EQ(2, list.GetCurSel());
        list.SetCurSel(9);
        EXPECT_EQ(2, list.GetCurSel()) << "an index past the end changes nothing";
        list.SetCurSel(-1);
        EXPECT_EQ(LB_ERR, list.GetCurSel());
        list.DeleteString(0);
        EXPECT_EQ(3, list.GetCount());
        EXPECT_EQ(0xABCDu, list.GetItemData(0));
        EXPECT_EQ(0, dialog.changesA) << "no notification from the list reaches an edit handler";
        list.ResetContent();
        EXPECT_EQ(0, list.GetCount());
        dialog.EndDialog(IDOK);
        return true;
    });
    RunScripted(dialog, script);
}

TEST(Application, NameDefaultsToTheExecutableName)
{
    CWinApp unnamed;  // not the current application: the first one constructed stays current
    EXPECT_STREQ("ui_tests", unnamed.m_pszAppName);
    EXPECT_EQ(&g_testApp, AfxGetApp());
    EXPECT_EQ(CString("ui_tests"), AfxGetAppName());
}
