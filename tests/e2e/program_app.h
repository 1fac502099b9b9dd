// The program as the end-to-end tests drive it: installed in a scratch
// program folder, started, and read through its main dialog's windows.
#pragma once

#include "res/resource.h"
#include "tests/e2e/locales.h"
#include "tests/support/test_support.h"
#include "tests/support/project_dat.h"
#include "tests/support/dialog_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using testing_support::ReadBytes;
using testing_support::TempDir;

// The running program in its own program folder, with what these tests read of its main dialog.
class App : public ProgramDriver
{
public:
    explicit App(const TempDir& folder)
    {
        std::string path(folder.Path());
        if (Install(path))
            Start(path, "ignored-argument");
    }

    // The caption, then every control's text in tab order.
    std::string Texts() const
    {
        std::string all = TextOf(main);
        for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            all += "|" + TextOf(child);
        return all;
    }
    std::string Fields() const
    {
        std::string all;
        for (int id : {IDC_PROJECT_NAME, IDC_SOURCE_FOLDER, IDC_BACKUP_FOLDER, IDC_IGNORE_EXT, IDC_IGNORE_FOLDER})
            all += (id == IDC_PROJECT_NAME ? "" : "|") + TextOf(Item(id));
        return all;
    }
    // The text of entry index; read as UTF-16, as ANSI texts are not converted across processes.
    std::string Entry(int index) const
    {
        wchar_t wide[512] = {};
        char text[1024] = {};
        SendMessageW(Item(IDC_PROJECT_LIST), LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide));
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        return text;
    }
    // The entries, then the selected index.
    std::string List() const
    {
        std::string all;
        for (int i = 0; i < SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCOUNT, 0, 0); ++i)
            all += Entry(i) + ",";
        return all + "@" + std::to_string(SendMessageA(Item(IDC_PROJECT_LIST), LB_GETCURSEL, 0, 0));
    }
    // Clicks entry index of the list with the mouse and waits until the list has taken it.
    void Pick(int index) const
    {
        HWND list = Item(IDC_PROJECT_LIST);
        LRESULT height = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
        LPARAM at = MAKELPARAM(5, static_cast<WORD>(height * index + height / 2));
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
        EXPECT_TRUE(WaitFor([&] {
            return SendMessageA(list, LB_GETCURSEL, 0, 0) == index && TextOf(Item(IDC_PROJECT_NAME)) == Entry(index);
        })) << "the click did not show entry "
            << index;
    }
    bool CloseWithEscape()
    {
        PostMessageA(Item(IDC_PROJECT_LIST), WM_KEYDOWN, VK_ESCAPE, 1);
        return Exited();
    }
    bool CloseWithAltF4()
    {
        const LPARAM kAltDown = 1 << 29;
        PostMessageA(main, WM_SYSKEYDOWN, VK_F4, 1 | kAltDown);
        return Exited();
    }
};

// The cabinet with the fields that change from run to run (set ID, file dates
// and times) zeroed.
inline std::string WithoutDates(std::string cab)
{
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(cab[at]) | static_cast<unsigned char>(cab[at + 1]) << 8);
    };
    if (cab.size() < 36)
        return cab;
    cab[32] = cab[33] = 0;
    size_t at = u16(16) | u16(18) << 16;
    for (size_t i = 0, files = u16(28); i < files && at + 16 < cab.size(); ++i) {
        std::fill(cab.begin() + static_cast<long>(at) + 10, cab.begin() + static_cast<long>(at) + 14, '\0');
        at = cab.find('\0', at + 16) + 1;
    }
    return cab;
}

// Each case runs under two system locales (tests/e2e/locales.h).
class EndToEnd : public ::testing::Test
{
protected:
    std::string ProjectDat() { return ReadBytes(m_program / "project.dat"); }
    void WriteProjectDat(const std::string& bytes)
    {
        ASSERT_TRUE(testing_support::WriteBytes(m_program / "project.dat", bytes));
    }

    TempDir m_program;
    TempDir m_work;
};

} // namespace e2e
