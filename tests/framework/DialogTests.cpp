#include "framework/CFileDialog.h"
#include "framework/CStringArray.h"
#include "framework/CWinThread.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

struct SeenDialog
{
    OPENFILENAMEA ofn;
    std::string filter;
    std::string initialDir;
    std::string defExt;
    BOOL open;
};
SeenDialog g_seen;
const char* g_choice = nullptr;

BOOL ChooseFile(OPENFILENAMEA* ofn, BOOL open)
{
    g_seen.ofn = *ofn;
    g_seen.open = open;
    const char* f = ofn->lpstrFilter;
    g_seen.filter.clear();
    while (f && *f) {
        g_seen.filter += f;
        g_seen.filter += '|';
        f += lstrlenA(f) + 1;
    }
    g_seen.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    g_seen.defExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
    if (!g_choice)
        return FALSE;
    lstrcpynA(ofn->lpstrFile, g_choice, ofn->nMaxFile);
    return TRUE;
}

class MainWindow : public CWnd
{
};

} // namespace

TEST(MessageBoxes, CaptionOwnerAndDefaultIcons)
{
    CWinThread thread;
    MainWindow window;
    window.m_hWnd = reinterpret_cast<HWND>(0x1234);
    thread.m_pMainWnd = &window;

    MessageBoxRecorder boxes;
    EXPECT_EQ(IDOK, AfxMessageBox("成功しました。", MB_ICONINFORMATION));
    boxes.Answer(IDYES);
    EXPECT_EQ(IDYES, AfxMessageBox("再トライしますか？", MB_YESNO));
    AfxMessageBox("a");
    AfxMessageBox("b", MB_OKCANCEL);
    AfxMessageBox("c", MB_RETRYCANCEL);
    AfxMessageBox("d", MB_OK | MB_ICONWARNING);
    thread.m_pMainWnd = nullptr;
    AfxMessageBox("e");

    ASSERT_EQ(7u, boxes.Boxes().size());
    EXPECT_EQ(std::string("framework_tests"), boxes.Boxes()[0].caption);
    EXPECT_EQ("成功しました。", boxes.Boxes()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION), boxes.Boxes()[0].type);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), boxes.Boxes()[1].type);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), boxes.Boxes()[2].type);
    EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL | MB_ICONEXCLAMATION), boxes.Boxes()[3].type);
    EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL), boxes.Boxes()[4].type);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), boxes.Boxes()[5].type);
    EXPECT_EQ(reinterpret_cast<HWND>(0x1234), boxes.Boxes()[0].owner);
    EXPECT_EQ(nullptr, boxes.Boxes()[6].owner);
}

TEST(FileDialog, SaveDialogAsTheBackupRunBuildsIt)
{
    CWinThread thread;
    MainWindow window;
    window.m_hWnd = reinterpret_cast<HWND>(0x5678);
    thread.m_pMainWnd = &window;
    AfxFileDialogHook previous = CFileDialog::SetHook(&ChooseFile);

    CFileDialog dialog(FALSE, "cab", nullptr, 0, "キャビネットファイル(*.cab)|*.cab||");
    dialog.m_ofn.lpstrInitialDir = "C:\\Backups";
    g_choice = "C:\\Backups\\b.cab";
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ(CString("C:\\Backups\\b.cab"), dialog.GetPathName());
    EXPECT_FALSE(g_seen.open);
    EXPECT_EQ(static_cast<DWORD>(OFN_EXPLORER), g_seen.ofn.Flags);
    EXPECT_EQ(reinterpret_cast<HWND>(0x5678), g_seen.ofn.hwndOwner);
    EXPECT_EQ("キャビネットファイル(*.cab)|*.cab|", g_seen.filter);
    EXPECT_EQ("C:\\Backups", g_seen.initialDir);
    EXPECT_EQ("cab", g_seen.defExt);
    EXPECT_EQ(static_cast<DWORD>(MAX_PATH), g_seen.ofn.nMaxFile);
    EXPECT_EQ(nullptr, g_seen.ofn.lpstrTitle);

    CFileDialog cancelled(FALSE, "cab", nullptr, 0, "x|*.x||");
    g_choice = nullptr;
    EXPECT_EQ(IDCANCEL, cancelled.DoModal());
    EXPECT_EQ(CString(""), cancelled.GetPathName());
    CFileDialog::SetHook(previous);
}

TEST(FileDialog, FilterBarsInsideDoubleByteCharactersStay)
{
    // The second byte of "ポ" (83 7C) is '|'.
    CString converted = CFileDialog::ConvertFilter("ポ(*.p)|*.p||");
    std::string bytes(converted.GetString(), static_cast<size_t>(converted.GetLength()));
    EXPECT_EQ(std::string("ポ(*.p)\0*.p\0\0", 14), bytes);
}

TEST(StringFixes, SearchesSkipSecondBytesOfDoubleByteCharacters)
{
    // "表" is 95 5C: its second byte is a backslash. "ポ" is 83 7C.
    CString path("a\\表");
    EXPECT_EQ(1, path.ReverseFind('\\'));
    EXPECT_EQ(-1, CString("表ポ").Find('|'));
    EXPECT_EQ(3, CString("表a\\").Find('\\'));
    CString trimmed("x表\\\\");
    trimmed.TrimRight('\\');
    EXPECT_EQ(CString("x表"), trimmed);
    CString kept("x表");
    kept.TrimRight('\\');
    EXPECT_EQ(CString("x表"), kept);
}
