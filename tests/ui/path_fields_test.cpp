// The folder fields' data exchange in UTF-16, the checks before a run, and the start-up check of the code
// page, on real windows and folders in this process.
#include "app/CodePageCheck.h"
#include "framework/AfxCodePage.h"
#include "framework/CDataExchange.h"
#include "project/CodePagePath.h"
#include "tests/support/test_support.h"
#include "ui/PathFields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testing_support;

namespace {

const int kFieldId = 1002;

// A UTF-16 edit, as the main dialog's are, in a window that stands for the dialog.
class PathField : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = AfxFromCodePage(m_dir.Path());
        for (const wchar_t* dir : {L"\u00DCber", L"Uber", L"\u00DCber\\caf\u00E9"})
            ASSERT_TRUE(CreateDirectoryW((m_root + dir).c_str(), nullptr));
        m_dialog.m_hWnd =
            CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        m_field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 90, 20, m_dialog.m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFieldId)), nullptr, nullptr);
        ASSERT_NE(nullptr, m_field);
    }
    void TearDown() override
    {
        DestroyWindow(m_dialog.m_hWnd);
        m_dialog.m_hWnd = nullptr;
    }
    // One exchange of value with the field, in the given direction.
    void Exchange(BOOL save, CString& value)
    {
        CDataExchange dx(&m_dialog, save);
        DDX_PathText(&dx, kFieldId, value);
    }

    TempDir m_dir;
    std::wstring m_root; // m_dir, ending in a backslash
    CWnd m_dialog;
    HWND m_field = nullptr;
};

// Saving holds the typed text in the code page; loading leaves a field alone that is held as the value (the
// user's Über, a lost path as typed, the caret), and else shows the value by its long names.
TEST_F(PathField, TypedTextIsHeldAndShownByItsOwnNames)
{
    const std::wstring ueber = m_root + L"\u00DCber", cafe = ueber + L"\\caf\u00E9";
    const struct
    {
        const char* what;
        std::wstring typed; // the field's text before the exchanges
        std::wstring given; // the value loaded afterwards, as a UTF-16 path held first; empty: the saved one
        std::wstring shown; // the field's text after loading
    } cases[] = {
        {"Uber beside U-umlaut-ber", m_root + L"Uber", L"", m_root + L"Uber"},
        {"U-umlaut-ber typed", ueber, L"", ueber},
        {"a path that cannot be held, as typed", m_root + L"\u00DCnknown", L"", m_root + L"\u00DCnknown"},
        {"another project's folder by its short names", ueber, cafe, cafe},
        {"a plain path", ueber, L"C:\\plain", L"C:\\plain"},
        {"double-byte", L"", m_root + L"日本語", m_root + L"日本語"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetWindowTextW(m_field, c.typed.c_str());
        SendMessageW(m_field, EM_SETSEL, 2, 2);
        CString value;
        Exchange(TRUE, value);
        EXPECT_EQ(HoldPath(c.typed).path, value);
        if (!c.given.empty())
            value = HoldPath(c.given).path;
        Exchange(FALSE, value);
        EXPECT_EQ(c.shown, AfxGetWindowTextW(m_field));
        DWORD caret = 0;
        SendMessageW(m_field, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
        EXPECT_EQ(c.given.empty() ? 2u : 0u, caret) << "a field left alone keeps its caret";
    }
}

// Before a run: a source folder that cannot be held stops it with a message that names it; a backup folder
// that cannot be held is told of only when the run will open the save dialog, and the run goes on.
TEST_F(PathField, ARunStartsOnlyWithASourceFolderTheCodePageHolds)
{
    const std::wstring ueber = m_root + L"\u00DCber", lost = m_root + L"\u00DCnknown";
    const struct
    {
        const char* what;
        std::wstring source, backup;
        bool runs;
        std::vector<std::wstring> told;
    } cases[] = {
        {"both held", ueber, m_root + L"Uber", true, {}},
        {"both empty", L"", L"", true, {}},
        {"a source that cannot be held", lost, ueber, false, {NotHeldMessage(PathUse::SourceFolder, lost)}},
        {"a backup folder that cannot be held", ueber, lost, true, {NotHeldMessage(PathUse::BackupFolder, lost)}},
        {"both, the source first", lost, lost, false, {NotHeldMessage(PathUse::SourceFolder, lost)}},
        {"a missing source, which the run reports", m_root + L"missing", lost, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MessageBoxRecorder boxes;
        EXPECT_EQ(c.runs, CheckPathFields(c.source, c.backup));
        std::vector<std::wstring> told;
        for (const ShownBox& box : boxes.Boxes())
            told.push_back(box.wide);
        EXPECT_EQ(c.told, told);
    }
}

// At start: code page 932 goes on silently; any other is told, in Japanese and English, as an error.
TEST(StartUpCodePage, OnlyCodePage932GoesOn)
{
    for (UINT codePage : {932u, 1252u, 65001u, 936u, 949u}) {
        SCOPED_TRACE(codePage);
        MessageBoxRecorder boxes;
        EXPECT_EQ(codePage == 932, ConfirmCodePage(codePage));
        ASSERT_EQ(codePage == 932 ? 0u : 1u, boxes.Boxes().size());
        if (codePage == 932)
            continue;
        const std::wstring text = boxes.Boxes()[0].wide, page = std::to_wstring(codePage);
        EXPECT_EQ(WrongCodePageMessage(codePage), text);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes.Boxes()[0].type);
        EXPECT_NE(std::wstring::npos, text.find(L"(いまのコード ページは " + page + L" です)"));
        EXPECT_NE(std::wstring::npos, text.find(L"(its code page is " + page + L")"));
        EXPECT_NE(std::wstring::npos, text.find(L"Unicode 対応ではないプログラムの言語"));
        EXPECT_NE(std::wstring::npos, text.find(L"language for non-Unicode programs"));
    }
}

} // namespace
