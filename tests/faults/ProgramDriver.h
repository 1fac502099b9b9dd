// Drives one copy of the real program from this process, as a user would:
// starts it from a program folder, types into its fields, presses its buttons,
// reads and answers its message boxes and its save dialog, and closes it.
#pragma once

#include "tests/faults/FaultSupport.h"

#include <windows.h>

#include <string>
#include <vector>

namespace faults {

const char kMainCaption[] = "Kestelvarnholm Ver.1.00";
const int kProjectName = 1010;
const int kSourceFolder = 1002;
const int kRunBackup = 1005;
const int kFileNameCombo = 0x47C;
const int kMessageText = 0xFFFF;

// A message box of the program: its window and its text.
struct Box
{
    HWND window = nullptr;
    std::string text;
};

class ProgramCopy
{
public:
    ProgramCopy() = default;
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
    ~ProgramCopy()
    {
        if (m_process) {
            if (WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0) {
                TerminateProcess(m_process, 1);
                WaitForSingleObject(m_process, 5000);
            }
            CloseHandle(m_process);
        }
    }

    // Copies the program and its archiver into folder (ending in a backslash).
    static bool Install(const std::string& folder)
    {
        return CopyFileA((BinFolder() + "Kestelvarnholm.exe").c_str(), (folder + "Kestelvarnholm.exe").c_str(), FALSE) &&
               CopyFileA((BinFolder() + "CAB32.dll").c_str(), (folder + "CAB32.dll").c_str(), FALSE);
    }

    // Starts the copy in folder and waits until its main dialog is shown and
    // idle. False when no main dialog came.
    bool Start(const std::string& folder)
    {
        std::string exe = folder + "Kestelvarnholm.exe";
        std::string line = "\"" + exe + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                            &process))
            return false;
        CloseHandle(process.hThread);
        m_process = process.hProcess;
        m_pid = process.dwProcessId;
        for (DWORD waited = 0; waited < 15000; waited += 20) {
            m_dialog = FindWindowOf([](HWND window) {
                return Caption(window) == kMainCaption && IsDialog(window) && IsWindowVisible(window);
            });
            // Visible means initialised; idle means the start-up messages are handled.
            if (m_dialog) {
                WaitForInputIdle(m_process, 5000);
                return true;
            }
            if (Pump(20))
                return false;
        }
        return false;
    }

    HWND Dialog() const { return m_dialog; }

    // Replaces the text of an edit field; the edit tells the dialog of the
    // change (EN_CHANGE) before this returns.
    void SetText(int id, const std::string& text)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(GetDlgItem(m_dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                            SMTO_NORMAL, 5000, &result);
    }

    std::string Text(int id) const { return WindowText(GetDlgItem(m_dialog, id)); }

    // Presses a button; posted, since the button may open a modal window.
    void Press(int id)
    {
        PostMessageA(m_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_dialog, id)));
    }

    // The next message box shown by the program; no window when none came
    // within milliseconds (0: looks once).
    Box WaitForBox(DWORD milliseconds = 10000)
    {
        Box box;
        for (DWORD waited = 0; !box.window; waited += 20) {
            box.window = FindWindowOf([](HWND window) {
                return IsDialog(window) && IsWindowVisible(window) && GetDlgItem(window, kMessageText) &&
                       !FindDescendant(window, kFileNameCombo) && Caption(window) != kMainCaption;
            });
            if (box.window || waited >= milliseconds || Pump(20))
                break;
        }
        if (box.window)
            box.text = WindowText(GetDlgItem(box.window, kMessageText));
        return box;
    }

    // Answers a box with IDOK, IDYES or IDNO and waits until it has gone.
    void Answer(const Box& box, int id)
    {
        PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        for (int waited = 0; waited < 5000 && IsWindow(box.window); waited += 10)
            Sleep(10);
    }

    // Waits for the save dialog, types path as the file name and accepts it.
    bool ChooseFile(const std::string& path, DWORD milliseconds = 10000)
    {
        HWND dialog = nullptr;
        for (DWORD waited = 0; waited < milliseconds && !dialog; waited += 20) {
            dialog = FindWindowOf([](HWND window) {
                return IsDialog(window) && IsWindowVisible(window) && FindDescendant(window, kFileNameCombo);
            });
            if (!dialog)
                Sleep(20);
        }
        if (!dialog)
            return false;
        HWND combo = FindDescendant(dialog, kFileNameCombo);
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutA(edit ? edit : combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL,
                            5000, &result);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int waited = 0; waited < 5000 && IsWindow(dialog); waited += 10)
            Sleep(10);
        return !IsWindow(dialog);
    }

    // Closes the main dialog as Escape or the close box would.
    void Close() { PostMessageA(m_dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }

    bool WaitForExit(DWORD milliseconds = 10000)
    {
        bool ended = false;
        for (DWORD waited = 0; m_process && !ended && waited <= milliseconds; waited += 20)
            ended = Pump(milliseconds ? 20 : 0);
        return ended;
    }

private:
    // Handles this thread's messages for up to milliseconds; true once the program has ended.
    bool Pump(DWORD milliseconds)
    {
        DWORD result = MsgWaitForMultipleObjects(1, &m_process, FALSE, milliseconds, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        return result == WAIT_OBJECT_0;
    }

    static std::string WindowText(HWND window)
    {
        char text[2048] = "";
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                            &result);
        return text;
    }
    static std::string Caption(HWND window)
    {
        char text[256] = "";
        GetWindowTextA(window, text, sizeof(text));
        return text;
    }
    static bool IsDialog(HWND window)
    {
        char name[64] = "";
        GetClassNameA(window, name, sizeof(name));
        return std::string(name) == "#32770";
    }

    struct ChildSearch
    {
        int id;
        HWND found;
    };
    static BOOL CALLBACK MatchChild(HWND window, LPARAM param)
    {
        ChildSearch* search = reinterpret_cast<ChildSearch*>(param);
        if (GetDlgCtrlID(window) != search->id)
            return TRUE;
        search->found = window;
        return FALSE;
    }
    static HWND FindDescendant(HWND parent, int id)
    {
        ChildSearch search = {id, nullptr};
        EnumChildWindows(parent, &MatchChild, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    struct TopSearch
    {
        DWORD pid;
        bool (*match)(HWND);
        HWND found;
    };
    static BOOL CALLBACK MatchTop(HWND window, LPARAM param)
    {
        TopSearch* search = reinterpret_cast<TopSearch*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != search->pid || !search->match(window))
            return TRUE;
        search->found = window;
        return FALSE;
    }
    HWND FindWindowOf(bool (*match)(HWND)) const
    {
        TopSearch search = {m_pid, match, nullptr};
        EnumWindows(&MatchTop, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    HWND m_dialog = nullptr;
};

} // namespace faults
