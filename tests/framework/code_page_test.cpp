// Text between UTF-16 and code page 932 with no best fit, and the save dialog, which works in UTF-16: a
// character the code page lacks is '?' (which no file name holds), never one that only looks like it.
#include "framework/AfxCodePage.h"
#include "framework/CFileDialog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CodePage, NoCharacterIsTurnedIntoAnother)
{
    const struct
    {
        const char* what;
        std::wstring text;
        std::string bytes; // in code page 932
        bool exact;
    } cases[] = {
        {"ASCII", L"C:\\src", "C:\\src", true},
        {"double-byte, 0x5C as a trail byte", L"表\\ソ", "\x95\x5C\\\x83\x5C", true},
        {"fullwidth tilde, which 932 has", L"\uFF5E", "\x81\x60", true},
        {"fullwidth backslash, which 932 has", L"\uFF3C", "\x81\x5F", true},
        {"U umlaut, best-fitted to U", L"\u00DCber", "?ber", false},
        {"yen sign, best-fitted to a backslash", L"a\u00A5b", "a?b", false},
        {"wave dash, best-fitted to the fullwidth tilde", L"\u301C", "?", false},
        {"Hangul", L"\uD55C", "?", false},
        {"empty", L"", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool exact = !c.exact;
        CString bytes = AfxToCodePage(c.text, &exact);
        EXPECT_EQ(c.bytes, std::string(bytes));
        EXPECT_EQ(c.exact, exact);
        if (c.exact) {
            EXPECT_EQ(c.text, AfxFromCodePage(bytes));
        }
    }
    bool exact = true;
    CString smile = AfxToCodePage(L"a\U0001F600b", &exact);
    EXPECT_FALSE(exact);
    EXPECT_EQ(std::string::npos, std::string(smile).find_first_not_of("a?b")) << "a surrogate pair is '?' too";
    EXPECT_EQ(L"表", AfxFromCodePage("\x95\x5C\x95", 2)) << "a length in bytes";
}

std::wstring g_chosen;
std::wstring g_initialDir, g_defExt;

BOOL ChooseInUtf16(OPENFILENAMEW* ofn, BOOL)
{
    g_initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : L"<null>";
    g_defExt = ofn->lpstrDefExt ? ofn->lpstrDefExt : L"<null>";
    lstrcpynW(ofn->lpstrFile, g_chosen.c_str(), ofn->nMaxFile);
    return TRUE;
}

// The dialog is given m_ofn's texts in UTF-16 and gives back the chosen path as it is, and in the code
// page without best fit.
TEST(CodePage, TheSaveDialogWorksInUtf16)
{
    AfxFileDialogHook previous = CFileDialog::SetHook(&ChooseInUtf16);
    const struct
    {
        std::wstring chosen;
        std::string inCodePage;
    } cases[] = {
        {L"D:\\表\\out.cab", "D:\\\x95\x5C\\out.cab"},
        {L"D:\\\u00DCber\\t.cab", "D:\\?ber\\t.cab"},
    };
    for (const auto& c : cases) {
        CFileDialog dialog(FALSE, "cab", nullptr, 0, "ポ(*.cab)|*.cab||");
        dialog.m_ofn.lpstrInitialDir = "D:\\バックアップ";
        g_chosen = c.chosen;
        ASSERT_EQ(IDOK, dialog.DoModal());
        EXPECT_EQ(L"D:\\バックアップ", g_initialDir);
        EXPECT_EQ(L"cab", g_defExt);
        EXPECT_EQ(c.chosen, dialog.GetPathNameW());
        EXPECT_EQ(c.inCodePage, std::string(dialog.GetPathName()));
    }
    CFileDialog::SetHook(previous);
}

} // namespace
