// Finding and answering dialogs through window messages, in this process or in another one.
#pragma once
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

inline std::string TextOf(HWND hWnd, int id = 0)
{
    char text[2048] = {};
    SendMessageA(id ? GetDlgItem(hWnd, id) : hWnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// A visible "#32770" window of process pid, owned by owner and titled caption unless these are null.
inline HWND FindDialog(DWORD pid, HWND owner, const char* caption = nullptr)
{
    struct Search { DWORD pid; HWND owner; const char* caption; HWND found; } s{ pid, owner, caption, nullptr };
    EnumWindows(
        [](HWND hWnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD pid = 0;
            char name[16] = {};
            GetWindowThreadProcessId(hWnd, &pid);
            GetClassNameA(hWnd, name, sizeof name);
            bool found = pid == s->pid && IsWindowVisible(hWnd) && lstrcmpA(name, "#32770") == 0 &&
                         (!s->owner || GetWindow(hWnd, GW_OWNER) == s->owner) &&
                         (!s->caption || TextOf(hWnd) == s->caption);
            s->found = found ? hWnd : nullptr;
            return !found;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// A click that opens a modal window must be posted; any other may be sent, so it is done on return.
inline void Click(HWND dialog, int id, bool post = true)
{
    WPARAM command = MAKEWPARAM(id, BN_CLICKED);
    LPARAM button = reinterpret_cast<LPARAM>(GetDlgItem(dialog, id));
    if (post)
        PostMessageA(dialog, WM_COMMAND, command, button);
    else
        SendMessageA(dialog, WM_COMMAND, command, button);
}

// The item a folder browser's tree has selected, once the selection has left the root; else 0.
inline LRESULT Preselection(HWND tree)
{
    LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    return caret != SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0) ? caret : 0;
}

// Expects window centred on around, or on its monitor's work area when around is null.
inline void ExpectCentredOn(HWND window, HWND around)
{
    RECT w = {};
    MONITORINFO info = { sizeof info, {}, {}, 0 };
    GetWindowRect(window, &w);
    GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    if (around)
        GetWindowRect(around, &info.rcWork);
    EXPECT_NEAR(w.left + w.right, info.rcWork.left + info.rcWork.right, 2);
    EXPECT_NEAR(w.top + w.bottom, info.rcWork.top + info.rcWork.bottom, 2);
}
