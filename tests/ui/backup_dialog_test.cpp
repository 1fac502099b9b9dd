// The main dialog on its real template, in this process: the project list and
// its five fields, keystroke by keystroke, the delete rules, the state with no
// entry selected, the About item, and the folder picker's browser.
#include "DialogScript.h"

#include "framework/CWinApp.h"
#include "project/ProgramFolder.h"
#include "res/resource.h"
#include "tests/framework/TestSupport.h"
#include "ui/BackupDialog.h"
#include "ui/FolderPicker.h"

#include <gtest/gtest.h>

#include <commctrl.h>

extern CWinApp g_testApp;

using testing_support::MessageBoxRecorder;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

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

std::string ProjectFile(int count, int selected, const std::vector<std::string>& names)
{
    std::string bytes = Archived("KESTELVARNHOLM") + Int32(count) + Int32(selected);
    for (const std::string& name : names)
        bytes += Archived(name) + std::string(4, '\0');
    return bytes;
}

class MainDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        OverrideProgramFolder(m_program.Path());
        g_testApp.m_pMainWnd = &m_dialog;
    }
    void TearDown() override
    {
        g_testApp.m_pMainWnd = nullptr;
        OverrideProgramFolder(nullptr);
    }

    HWND Item(int id) { return m_dialog.GetDlgItem(id); }
    std::string Edit(int id) { return WindowText(m_dialog.m_hWnd, id); }
    int Count() { return m_dialog.m_listProjects.GetCount(); }
    int Selection() { return m_dialog.m_listProjects.GetCurSel(); }
    std::string Entry(int index)
    {
        CString text;
        m_dialog.m_listProjects.GetText(index, text);
        return text.GetString();
    }
    Project* At(int index) { return reinterpret_cast<Project*>(m_dialog.m_listProjects.GetItemData(index)); }
    // What the user's click in the list does: select, then notify the dialog.
    void Pick(int index)
    {
        SendMessageA(Item(IDC_PROJECT_LIST), LB_SETCURSEL, index, 0);
        SendMessageA(m_dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_PROJECT_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(Item(IDC_PROJECT_LIST)));
    }
    void Click(int id)
    {
        SendMessageA(m_dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    // Types at the end of an edit.
    void TypeInto(int id, const char* text)
    {
        HWND edit = Item(id);
        SendMessageA(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
        for (const char* p = text; *p; ++p)
            SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(*p), 1);
    }
    std::string ShownFields()
    {
        return Edit(IDC_PROJECT_NAME) + "|" + Edit(IDC_SOURCE_FOLDER) + "|" + Edit(IDC_BACKUP_FOLDER) + "|" +
               Edit(IDC_IGNORE_EXT) + "|" + Edit(IDC_IGNORE_FOLDER);
    }
    INT_PTR Run(DialogScript& script)
    {
        script.Start();
        INT_PTR result = m_dialog.DoModal();
        script.Stop();
        EXPECT_TRUE(script.Finished()) << script.Failure();
        return result;
    }

    TempDir m_program;
    BackupDialog m_dialog;
    MessageBoxRecorder m_boxes;
};

TEST_F(MainDialog, WithoutAProjectFileShowsTheDefaultProjectAndWritesIt)
{
    DialogScript script;
    script.Then([&] {
        EXPECT_EQ(1, Count());
        EXPECT_EQ(0, Selection());
        EXPECT_EQ("名称未設定", Entry(0));
        EXPECT_EQ("名称未設定||||", ShownFields());
        EXPECT_EQ(Item(IDC_PROJECT_LIST), GetFocus());
        PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
        return true;
    });
    EXPECT_EQ(IDCANCEL, Run(script));
    std::string expected = ProjectFile(1, 0, {"名称未設定"});
    EXPECT_EQ(38u, expected.size());
    EXPECT_EQ(expected, ReadBytes(m_program / "project.dat"));
    EXPECT_TRUE(m_boxes.Boxes().empty());
}

TEST_F(MainDialog, TypingAndEditingGoStraightIntoTheSelectedProject)
{
    WriteBytes(m_program / "project.dat", ProjectFile(2, 0, {"first", "second"}));
    DialogScript script;
    script.Then([&] {
        Click(IDC_ADD);
        Click(IDC_ADD);
        EXPECT_EQ(4, Count());
        EXPECT_EQ(3, Selection());
        EXPECT_EQ("名称未設定", Entry(2));
        EXPECT_EQ("名称未設定", Entry(3));
        EXPECT_NE(At(2), At(3));

        // Rename by typing: the entry follows each keystroke, keeps its place and selection.
        SetWindowTextA(Item(IDC_PROJECT_NAME), "");
        EXPECT_EQ("", Entry(3));
        EXPECT_EQ(3, Selection());
        const char* typed = "Web";
        std::string soFar;
        for (const char* p = typed; *p; ++p) {
            TypeInto(IDC_PROJECT_NAME, std::string(1, *p).c_str());
            soFar += *p;
            EXPECT_EQ(soFar, Entry(3));
            EXPECT_EQ(3, Selection());
            DWORD caret = 0;
            SendMessageA(Item(IDC_PROJECT_NAME), EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
            EXPECT_EQ(soFar.size(), caret) << "the caret stays where the user types";
        }
        EXPECT_EQ(4, Count());
        EXPECT_EQ("Web", std::string(At(3)->name));

        TypeInto(IDC_SOURCE_FOLDER, "C:\\src");
        TypeInto(IDC_BACKUP_FOLDER, "D:\\bak");
        TypeInto(IDC_IGNORE_EXT, "obj, h");
        TypeInto(IDC_IGNORE_FOLDER, "Debug");
        Project* web = At(3);
        EXPECT_EQ("C:\\src|D:\\bak|obj, h|Debug",
                  std::string(web->sourceFolder) + "|" + std::string(web->backupFolder) + "|" +
                      std::string(web->ignoredExtensions) + "|" + std::string(web->ignoredFolders));

        // Switching shows the other project and changes neither.
        Pick(0);
        EXPECT_EQ("first||||", ShownFields());
        EXPECT_EQ("", std::string(At(0)->sourceFolder));
        EXPECT_EQ("C:\\src", std::string(web->sourceFolder));
        Pick(3);
        EXPECT_EQ("Web|C:\\src|D:\\bak|obj, h|Debug", ShownFields());
        EXPECT_EQ("first", Entry(0));
        PostMessageA(m_dialog.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    });
    EXPECT_EQ(IDCANCEL, Run(script));
    std::string saved = ReadBytes(m_program / "project.dat");
    EXPECT_EQ(Archived("KESTELVARNHOLM") + Int32(4) + Int32(3), saved.substr(0, 23));
    EXPECT_NE(std::string::npos, saved.find(Archived("Web") + Archived("C:\\src") + Archived("D:\\bak")));
}

TEST_F(MainDialog, EnterDoesNotCloseTheDialog)
{
    bool stillOpen = false;
    DialogScript script;
    script.Then([&] {
              SetFocus(Item(IDC_SOURCE_FOLDER));
              PostMessageA(Item(IDC_SOURCE_FOLDER), WM_KEYDOWN, VK_RETURN, 1);
              SetFocus(Item(IDC_PROJECT_LIST));
              PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_RETURN, 1);
              PostMessageA(m_dialog.m_hWnd, WM_NULL, 0, 0);
              return true;
          })
        .Then([&] {
            stillOpen = IsWindowVisible(m_dialog.m_hWnd) != FALSE;
            PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
            return true;
        });
    EXPECT_EQ(IDCANCEL, Run(script));
    EXPECT_TRUE(stillOpen);
}

TEST_F(MainDialog, DeleteAsksThenSelectsTheFollowingOrTheNewLastEntry)
{
    WriteBytes(m_program / "project.dat", ProjectFile(3, 1, {"A", "B", "C"}));
    DialogScript script;
    script.Then([&] {
        EXPECT_EQ(1, Selection());
        m_boxes.Answer(IDNO);
        Click(IDC_DELETE);
        EXPECT_EQ(3, Count());
        EXPECT_EQ(1, Selection());

        m_boxes.Answer(IDYES);
        Click(IDC_DELETE);
        EXPECT_EQ(2, Count());
        EXPECT_EQ("A", Entry(0));
        EXPECT_EQ("C", Entry(1));
        EXPECT_EQ(1, Selection()) << "the entry that followed takes the place";
        EXPECT_EQ("C||||", ShownFields());

        m_boxes.Answer(IDYES);
        Click(IDC_DELETE);
        EXPECT_EQ(1, Count());
        EXPECT_EQ(0, Selection()) << "deleting the last entry selects the new last one";
        EXPECT_EQ("A||||", ShownFields());

        TypeInto(IDC_SOURCE_FOLDER, "X:\\old");
        m_boxes.Answer(IDYES);
        Click(IDC_DELETE);
        EXPECT_EQ(1, Count());
        EXPECT_EQ(0, Selection());
        EXPECT_EQ("名称未設定", Entry(0));
        EXPECT_EQ("名称未設定||||", ShownFields());
        EXPECT_EQ("", std::string(At(0)->sourceFolder));
        m_dialog.EndDialog(IDCANCEL);
        return true;
    });
    Run(script);
    ASSERT_EQ(4u, m_boxes.Boxes().size());
    EXPECT_EQ("プロジェクト「B」の設定データを破棄します。\nよろしいですか？", m_boxes.Boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), m_boxes.Boxes()[0].type);
    EXPECT_EQ("プロジェクト「C」の設定データを破棄します。\nよろしいですか？", m_boxes.Boxes()[2].text);
}

TEST_F(MainDialog, WithNoEntrySelectedNothingIsWrittenToAnyProject)
{
    WriteBytes(m_program / "project.dat", ProjectFile(2, 5, {"one", "two"}));
    DialogScript script;
    script.Then([&] {
        EXPECT_EQ(2, Count());
        EXPECT_EQ(LB_ERR, Selection());
        EXPECT_EQ("||||", ShownFields());
        TypeInto(IDC_SOURCE_FOLDER, "Q");
        EXPECT_EQ(CString("Q"), m_dialog.m_strSourceFolder) << "the members follow the edits";
        EXPECT_EQ("", std::string(At(0)->sourceFolder));
        EXPECT_EQ("", std::string(At(1)->sourceFolder));
        TypeInto(IDC_PROJECT_NAME, "N");
        EXPECT_EQ("one", Entry(0));
        EXPECT_EQ("two", Entry(1));
        Click(IDC_BROWSE_SOURCE);  // would block here if a browser opened
        Click(IDC_BROWSE_BACKUP);
        Click(IDC_RUN_BACKUP);
        EXPECT_TRUE(m_boxes.Boxes().empty());
        m_boxes.Answer(IDYES);
        Click(IDC_DELETE);
        EXPECT_EQ(2, Count());
        EXPECT_EQ(LB_ERR, Selection());
        Click(IDC_ADD);
        EXPECT_EQ(3, Count());
        EXPECT_EQ(2, Selection());
        m_dialog.EndDialog(IDCANCEL);
        return true;
    });
    Run(script);
    ASSERT_EQ(1u, m_boxes.Boxes().size());
    EXPECT_EQ("プロジェクト「」の設定データを破棄します。\nよろしいですか？", m_boxes.Boxes()[0].text);
}

TEST_F(MainDialog, SystemMenuOpensTheAboutBoxOverTheDialog)
{
    HWND about = nullptr;
    HWND aboutOwner = nullptr;
    RECT aboutRect = {};
    RECT mainRect = {};
    std::string aboutCaption;
    DialogScript script;
    script.Then([&] {
              HMENU menu = GetSystemMenu(m_dialog.m_hWnd, FALSE);
              int items = GetMenuItemCount(menu);
              char text[128] = {};
              GetMenuStringA(menu, items - 1, text, sizeof text, MF_BYPOSITION);
              EXPECT_EQ("Kestelvarnholm のﾊﾞｰｼﾞｮﾝ情報(&A)...", std::string(text));
              EXPECT_EQ(static_cast<UINT>(IDM_ABOUTBOX), GetMenuItemID(menu, items - 1));
              EXPECT_EQ(static_cast<UINT>(MF_SEPARATOR), GetMenuState(menu, items - 2, MF_BYPOSITION) & MF_SEPARATOR);
              EXPECT_NE(0, SendMessageA(m_dialog.m_hWnd, WM_QUERYDRAGICON, 0, 0));
              SetWindowPos(m_dialog.m_hWnd, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
              GetWindowRect(m_dialog.m_hWnd, &mainRect);
              PostMessageA(m_dialog.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x000F, 0);
              return true;
          })
        .Then([&] {
            about = FindOwnedDialog(m_dialog.m_hWnd);
            if (!about)
                return false;
            aboutOwner = GetWindow(about, GW_OWNER);
            EXPECT_EQ(m_dialog.m_hWnd, aboutOwner);
            GetWindowRect(about, &aboutRect);
            aboutCaption = WindowText(about);
            PostMessageA(about, WM_KEYDOWN, VK_ESCAPE, 1);
            return true;
        })
        .Then([&] {
            if (FindOwnedDialog(m_dialog.m_hWnd))
                return false;
            EXPECT_EQ(1, Count());
            m_dialog.EndDialog(IDCANCEL);
            return true;
        });
    Run(script);
    EXPECT_EQ(m_dialog.m_hWnd, nullptr);
    EXPECT_NE(nullptr, aboutOwner);
    EXPECT_EQ("Kestelvarnholmのバージョン情報", aboutCaption);
    EXPECT_NEAR((aboutRect.left + aboutRect.right) / 2, (mainRect.left + mainRect.right) / 2, 1);
    EXPECT_NEAR((aboutRect.top + aboutRect.bottom) / 2, (mainRect.top + mainRect.bottom) / 2, 1);
}

// The folder browser of this thread, once it shows its tree.
HWND FindBrowser()
{
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hWnd, LPARAM result) -> BOOL {
            if (!IsWindowVisible(hWnd) || !FindWindowExA(hWnd, nullptr, "SysTreeView32", nullptr))
                return TRUE;
            *reinterpret_cast<HWND*>(result) = hWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string SelectedTreeItem(HWND browser)
{
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item)
        return "<none>";
    char text[MAX_PATH] = {};
    TVITEMA tvItem = {};
    tvItem.mask = TVIF_TEXT;
    tvItem.hItem = item;
    tvItem.pszText = text;
    tvItem.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem));
    return text;
}

// The browser opens at the desktop; a preselection then moves the selection away from it.
bool SelectionLeftTheRoot(HWND browser)
{
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    return caret != 0 && caret != SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
}

bool HasStaticText(HWND browser, const char* wanted)
{
    for (HWND child = GetWindow(browser, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowText(child) == wanted)
            return true;
    return false;
}

TEST(FolderPickerBrowser, PreselectsTheStoredFolderAndReturnsTheChosenOne)
{
    TempDir root;
    CString folder = root / "選択先";
    CreateDirectoryA(folder, nullptr);

    FolderPicker picker;
    picker.m_strPath = folder;
    std::string selected;
    bool titled = false;
    DialogScript script;
    script.Then([&] {
        HWND browser = FindBrowser();
        if (!browser || !SelectionLeftTheRoot(browser))
            return false;
        selected = SelectedTreeItem(browser);
        titled = HasStaticText(browser, "フォルダの選択");
        PressButton(browser, IDOK);
        return true;
    });
    script.Start();
    EXPECT_EQ(IDOK, picker.DoModal());
    script.Stop();
    EXPECT_TRUE(script.Finished()) << script.Failure();
    EXPECT_EQ("選択先", selected);
    EXPECT_TRUE(titled);
    EXPECT_EQ(std::string(root.Path()) + "選択先", std::string(picker.m_strPath));

    picker.m_strPath = "unchanged";
    DialogScript cancel;
    cancel.Then([&] {
        HWND browser = FindBrowser();
        if (!browser)
            return false;
        PressButton(browser, IDCANCEL);
        return true;
    });
    cancel.Start();
    EXPECT_EQ(IDCANCEL, picker.DoModal());
    cancel.Stop();
    EXPECT_TRUE(cancel.Finished()) << cancel.Failure();
    EXPECT_EQ(CString("unchanged"), picker.m_strPath);
}

TEST_F(MainDialog, BrowseButtonsWriteTheChosenFolderOrLeaveItOnCancel)
{
    CreateDirectoryA(m_program / "src", nullptr);
    CreateDirectoryA(m_program / "bak", nullptr);
    std::string preselected;
    HWND browserOwner = nullptr;
    DialogScript script;
    script.Then([&] {
              TypeInto(IDC_SOURCE_FOLDER, std::string(m_program / "src").c_str());
              TypeInto(IDC_BACKUP_FOLDER, "Z:\\nowhere");
              SetFocus(Item(IDC_PROJECT_NAME));
              SendMessageA(Item(IDC_PROJECT_NAME), EM_SETSEL, 2, 2);
              PressButton(m_dialog.m_hWnd, IDC_BROWSE_SOURCE);
              return true;
          })
        .Then([&] {
            HWND browser = FindBrowser();
            if (!browser || !SelectionLeftTheRoot(browser))
                return false;
            preselected = SelectedTreeItem(browser);
            browserOwner = GetWindow(browser, GW_OWNER);
            EXPECT_EQ(m_dialog.m_hWnd, browserOwner) << "the browser is owned by the main window";
            PressButton(browser, IDOK);
            return true;
        })
        .Then([&] {
            if (FindBrowser())
                return false;
            EXPECT_EQ(std::string(m_program / "src"), Edit(IDC_SOURCE_FOLDER));
            DWORD caret = 0;
            SendMessageA(Item(IDC_PROJECT_NAME), EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
            EXPECT_EQ(2u, caret) << "the other edits are not rewritten";
            PressButton(m_dialog.m_hWnd, IDC_BROWSE_BACKUP);
            return true;
        })
        .Then([&] {
            HWND browser = FindBrowser();
            if (!browser)
                return false;
            PressButton(browser, IDCANCEL);
            return true;
        })
        .Then([&] {
            if (FindBrowser())
                return false;
            EXPECT_EQ("Z:\\nowhere", Edit(IDC_BACKUP_FOLDER));
            EXPECT_EQ("Z:\\nowhere", std::string(At(0)->backupFolder));
            EXPECT_EQ(std::string(m_program / "src"), std::string(At(0)->sourceFolder));
            m_dialog.EndDialog(IDCANCEL);
            return true;
        });
    Run(script);
    EXPECT_EQ("src", preselected);
    EXPECT_NE(nullptr, browserOwner);
}

} // namespace
