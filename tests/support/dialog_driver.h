// Finding and answering dialogs through window messages, in this process or in another one, and the
// real program started in a scratch program folder and driven as its user would.
#pragma once
#include <windows.h>

#include "res/resource.h"

#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

// The program's main dialog and its message boxes as the user sees them.
const char kMainCaption[] = "Kestelvarnholm Ver.1.00";
const char kBoxCaption[] = "Kestelvarnholm";
// The name a new project gets.
const char kDefaultName[] = "名称未設定";
// The static control that holds a message box's text.
const int kMessageBoxText = 0xFFFF;
// The save dialog's file-name field: a combo box, or the edit inside it.
const int kFileNameCombo = cmb13;

// Polls condition every 10 ms; false when it has not held within milliseconds.
inline bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = 10000)
{
    for (DWORD start = GetTickCount(); !condition(); Sleep(10))
        if (GetTickCount() - start > milliseconds)
            return false;
    return true;
}

inline std::string TextOf(HWND hWnd, int id = 0)
{
    char text[2048] = {};
    SendMessageA(id ? GetDlgItem(hWnd, id) : hWnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// The text of a window (of any process), in UTF-16 as it holds it.
inline std::wstring TextOfW(HWND hWnd)
{
    wchar_t text[2048] = {};
    SendMessageW(hWnd, WM_GETTEXT, sizeof text / sizeof *text, reinterpret_cast<LPARAM>(text));
    return text;
}

// A visible "#32770" window of process pid, owned by owner and titled caption unless these are null.
inline HWND FindDialog(DWORD pid, HWND owner, const char* caption = nullptr)
{
    struct Search
    {
        DWORD pid;
        HWND owner;
        const char* caption;
        HWND found;
    } s{pid, owner, caption, nullptr};
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
    MONITORINFO info = {sizeof info, {}, {}, 0};
    GetWindowRect(window, &w);
    GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    if (around)
        GetWindowRect(around, &info.rcWork);
    EXPECT_NEAR(w.left + w.right, info.rcWork.left + info.rcWork.right, 2);
    EXPECT_NEAR(w.top + w.bottom, info.rcWork.top + info.rcWork.bottom, 2);
}

// One copy of the real program (Kestelvarnholm.exe and CAB32.dll, copied from beside the test program)
// in a program folder of its own, driven through window messages; ended when it goes.
class ProgramDriver
{
public:
    ProgramDriver() = default;
    ProgramDriver(const ProgramDriver&) = delete;
    ProgramDriver& operator=(const ProgramDriver&) = delete;
    ~ProgramDriver()
    {
        if (m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT &&
            TerminateProcess(m_process.hProcess, 1))
            WaitForSingleObject(m_process.hProcess, 5000);
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }

    // Copies the program and its archiver into folder (ending in a backslash).
    static bool Install(const std::string& folder)
    {
        char self[MAX_PATH] = "";
        std::string bin(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
        bin.resize(bin.rfind('\\') + 1);
        return CopyFileA((bin + "Kestelvarnholm.exe").c_str(), (folder + "Kestelvarnholm.exe").c_str(), FALSE) &&
               CopyFileA((bin + "CAB32.dll").c_str(), (folder + "CAB32.dll").c_str(), FALSE);
    }
    // Starts the program installed in folder (ending in a backslash), with folder as its current folder; true
    // once its main dialog is shown and idle.
    bool Start(const std::string& folder, const std::string& arguments = "")
    {
        return Launch(folder, arguments) && Started();
    }
    // Start for a folder in UTF-16, which may be named in what no ANSI code page holds.
    bool StartW(const std::wstring& folder)
    {
        std::wstring exe = folder + L"Kestelvarnholm.exe", line = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        return CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                              &m_process) &&
               Started();
    }
    // True once the started program's main dialog is shown and idle.
    bool Started()
    {
        WaitFor([&] { return (main = FindDialog(Pid(), nullptr, kMainCaption)) != nullptr || Exited(0); }, 15000);
        return main && WaitForInputIdle(m_process.hProcess, 5000) != WAIT_FAILED;
    }
    // Starts the program as Start does, without waiting for any window of it.
    bool Launch(const std::string& folder, const std::string& arguments = "")
    {
        std::string exe = folder + "Kestelvarnholm.exe", line = "\"" + exe + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                              &m_process) != FALSE;
    }

    DWORD Pid() const { return m_process.dwProcessId; }
    bool Exited(DWORD waitMs = 10000) const { return WaitForSingleObject(m_process.hProcess, waitMs) == WAIT_OBJECT_0; }
    HWND Item(int id) const { return GetDlgItem(main, id); }
    // Read with a time-out: a program stuck in a box must not stop the test.
    std::string Text(int id) const
    {
        char text[2048] = "";
        DWORD_PTR result = 0;
        SendMessageTimeoutA(Item(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000,
                            &result);
        return text;
    }
    // Replaces an edit's text; the dialog hears of it (EN_CHANGE) before this returns.
    void SetText(int id, const std::string& text) const
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 5000,
                            &result);
    }
    // Replaces an edit's text with a text in UTF-16, which may hold what no ANSI code page does.
    void SetTextW(int id, const std::wstring& text) const
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 5000,
                            &result);
    }
    // Types at the end of an edit, one keystroke per character; clear first selects all and deletes it.
    void Type(int id, const std::string& text, bool clear = false) const
    {
        const int kPastTheEnd = 0x7FFF;
        SendMessageA(Item(id), EM_SETSEL, clear ? 0 : kPastTheEnd, clear ? -1 : kPastTheEnd);
        for (char ch : clear ? "\b" + text : text)
            SendMessageA(Item(id), WM_CHAR, static_cast<unsigned char>(ch), 1);
    }
    void Press(int id, bool opensWindow = false) const { Click(main, id, opensWindow); }

    // A visible dialog owned by the main dialog (a box, the save dialog, the browser, the About box).
    HWND WaitForOwned(const char* caption = nullptr, DWORD milliseconds = 10000) const
    {
        HWND found = nullptr;
        WaitFor([&] { return (found = FindDialog(Pid(), main, caption)) != nullptr; }, milliseconds);
        return found;
    }
    // The next message box of the program, owned by the main dialog or by none (while it closes); null when
    // none came within milliseconds (0: looks once).
    HWND WaitForBox(DWORD milliseconds = 10000) const
    {
        HWND box = nullptr;
        WaitFor([&] { return (box = FindBox()) != nullptr || Exited(0); }, milliseconds);
        return box;
    }
    // Presses button in window and waits until it has gone.
    static bool Answer(HWND window, int button)
    {
        PostMessageA(window, WM_COMMAND, button, 0);
        return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); });
    }
    // Answers the next message box and returns its text; every box is titled with the executable's name.
    std::string AnswerBox(int button) const
    {
        HWND box = WaitForBox();
        EXPECT_EQ(kBoxCaption, box ? TextOf(box) : "<no box>");
        std::string text = box ? TextOf(box, kMessageBoxText) : "<no box>";
        Answer(box, button);
        return text;
    }
    // Answers the next message box and returns its text in UTF-16.
    std::wstring AnswerBoxW(int button) const
    {
        HWND box = WaitForBox();
        std::wstring text = box ? TextOfW(GetDlgItem(box, kMessageBoxText)) : L"<no box>";
        Answer(box, button);
        return text;
    }
    // Types path as the file name into the save dialog and accepts it.
    bool ChooseFile(const std::string& path) const
    {
        HWND name = FileNameField();
        return name && SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str())) &&
               Answer(GetAncestor(name, GA_ROOT), IDOK);
    }
    // ChooseFile for a path in UTF-16.
    bool ChooseFileW(const std::wstring& path) const
    {
        HWND name = FileNameField();
        return name && SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str())) &&
               Answer(GetAncestor(name, GA_ROOT), IDOK);
    }
    // True when no window owned by the main dialog shows up within half a second.
    bool NothingOpens() const
    {
        Sleep(500);
        return FindDialog(Pid(), main) == nullptr;
    }
    // Closes the main dialog as its Cancel command does; boxes may follow.
    void Close() const { PostMessageA(main, WM_COMMAND, IDCANCEL, 0); }

    HWND main = nullptr;

private:
    // The save dialog's file-name field, once the dialog shows; null when it does not. The dialog is known by
    // that field: its caption is the system's, in the system's language.
    HWND FileNameField() const
    {
        HWND name = nullptr;
        WaitFor([&] {
            HWND save = FindDialog(Pid(), main);
            return (name = save ? GetDlgItem(save, kFileNameCombo) : nullptr) != nullptr;
        });
        if (HWND edit = name ? FindWindowExA(name, nullptr, "Edit", nullptr) : nullptr)
            name = edit;
        return name;
    }
    // A visible message box of the program, other than its main dialog and its save dialog.
    HWND FindBox() const
    {
        DWORD pid = 0;
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;)
            if (GetWindowThreadProcessId(w, &pid) && pid == Pid() && w != main && IsWindowVisible(w) &&
                GetDlgItem(w, kMessageBoxText) && !GetDlgItem(w, kFileNameCombo))
                return w;
        return nullptr;
    }

    PROCESS_INFORMATION m_process = {};
};
