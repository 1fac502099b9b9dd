// Byte strings in code page 932: a trail byte that looks like an ASCII
// separator ('\\' in 表, '|' in ポ) must never be taken for one.
#include "framework/CFileDialog.h"
#include "framework/CString.h"

#include <gtest/gtest.h>
#include <mbctype.h>

#include <cstring>
#include <string>

namespace {

const int kMultibyteCodePage = (_setmbcp(_MB_CP_ANSI), 0);

std::string g_filter;

// The filter the dialog is given, in the code page again, with its NULs.
BOOL CaptureFilter(OPENFILENAMEW* ofn, BOOL)
{
    const wchar_t* p = ofn->lpstrFilter;
    while (*p)
        p += lstrlenW(p) + 1;
    int length = static_cast<int>(p + 1 - ofn->lpstrFilter);
    char bytes[256] = "";
    int n = WideCharToMultiByte(CP_ACP, 0, ofn->lpstrFilter, length, bytes, sizeof bytes, nullptr, nullptr);
    g_filter.assign(bytes, static_cast<size_t>(n > 0 ? n : 0));
    return FALSE;
}

} // namespace

TEST(MultibyteString, TrailBytesAreNotSeparators)
{
    struct Case
    {
        const char* text;
        int find;            // Find('\\')
        int reverseFind;     // ReverseFind('\\')
        const char* trimmed; // TrimRight('\\')
    } cases[] = {
        {"表", -1, -1, "表"},
        {"表\\x", 2, 2, "表\\x"},
        {"a\\表\\\\", 1, 5, "a\\表"},
        {"\\\\", 0, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CString text(c.text);
        EXPECT_EQ(c.find, text.Find('\\'));
        EXPECT_EQ(c.reverseFind, text.ReverseFind('\\'));
        EXPECT_EQ(std::string(c.trimmed), std::string(text.TrimRight('\\')));
    }
}

TEST(MultibyteString, FileDialogFilterSplitsOnlyAtRealBars)
{
    AfxFileDialogHook previous = CFileDialog::SetHook(&CaptureFilter);
    CFileDialog dialog(FALSE, "cab", nullptr, 0, "ポ(*.cab)|*.cab||");
    EXPECT_EQ(IDCANCEL, dialog.DoModal());
    CFileDialog::SetHook(previous);
    EXPECT_EQ(std::string("ポ(*.cab)\0*.cab\0\0", 17), g_filter);
}
