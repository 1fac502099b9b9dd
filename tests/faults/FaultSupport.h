// What the fault cases need beside the shared test helpers: a small disk that
// fills up, another process holding a file, and a driver for the real program.
#pragma once

#include "tests/framework/TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace faults {

using testing_support::RunUnix;
typedef std::vector<std::string> Texts;

// Polls done() every 10 ms for up to milliseconds, handling this thread's messages.
template <class Done> bool Poll(Done done, DWORD milliseconds = 10000)
{
    for (DWORD waited = 0; !done(); waited += 10) {
        if (waited >= milliseconds)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    return true;
}

// The folder of this test program and the programs built with it.
inline std::string BinFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

// Starts exe with the arguments args in folder (nullptr: this one); the process or nullptr.
inline HANDLE Spawn(const std::string& exe, const std::string& args, const char* folder = nullptr, DWORD* pid = nullptr)
{
    std::string line = "\"" + exe + "\"" + args;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    if (pid)
        *pid = process.dwProcessId;
    return process.hProcess;
}

// True when unixFolder holds exactly names (sorted, separated by spaces).
inline bool Holds(const std::string& unixFolder, const std::string& names)
{
    return RunUnix("echo $(LC_ALL=C ls -A " + unixFolder + ") | grep -qxF '" + names + "'") == 0;
}

inline bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// A tmpfs of a few hundred kilobytes under /tmp (Z:\tmp\... for Wine) that really
// runs out of space. Mounting needs root; mounted is false where it is refused.
struct SmallDisk
{
    explicit SmallDisk(const char* size)
        : root("/tmp/kv-faults-disk-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64())),
          path("Z:" + root + "/")
    {
        std::replace(path.begin(), path.end(), '/', '\\');
        mounted = RunUnix("mkdir -p " + root + " && mount -t tmpfs -o size=" + size + ",mode=0777 tmpfs " + root +
                          " 2>/dev/null || { rmdir " + root + "; exit 1; }") == 0;
    }
    // The lazy unmount detaches a disk that a file or library still holds.
    ~SmallDisk()
    {
        if (mounted)
            RunUnix("umount " + root + " 2>/dev/null || umount -l " + root + "; rmdir " + root);
    }
    // Takes every free block with a hidden file that no walk lists; true when none is left.
    bool Fill() const
    {
        return RunUnix("dd if=/dev/zero of=" + root + "/.filler bs=4096 2>/dev/null; test $(df --output=avail " + root +
                       " | tail -1) -eq 0") == 0;
    }
    void Free() const { RunUnix("rm -f " + root + "/.filler"); }

    std::string root, path; // the mount point, for Linux and for Wine (ending in a backslash)
    bool mounted = false;
};

// Another process (fault_locker) holding path open with no sharing until Release.
class FileLock
{
public:
    explicit FileLock(const std::string& path) : m_path(path), m_process(Spawn(BinFolder() + "fault_locker.exe", " \"" + path + "\""))
    {
        m_held = m_process && Poll([&] { return Locked() || Ended(m_process); }) && Locked();
    }
    ~FileLock() { Release(); }
    bool Held() const { return m_held; }
    void Release()
    {
        if (m_process && TerminateProcess(m_process, 0))
            WaitForSingleObject(m_process, 5000);
        CloseHandle(m_process);
        m_process = nullptr;
        Poll([&] { return !Locked(); }, 5000);
    }

private:
    bool Locked() const
    {
        HANDLE file = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        return file == INVALID_HANDLE_VALUE ? GetLastError() == ERROR_SHARING_VIOLATION : !CloseHandle(file);
    }

    std::string m_path;
    HANDLE m_process;
    bool m_held = false;
};

const char kMainCaption[] = "Kestelvarnholm Ver.1.00";
const int kProjectName = 1010, kSourceFolder = 1002, kRunBackup = 1005, kFileNameCombo = 0x47C, kMessageText = 0xFFFF;

// A message box or dialog of the program: its window and its text.
struct Box
{
    HWND window = nullptr;
    std::string text;
};

// One copy of the real program, driven through its windows as a user would.
class ProgramCopy
{
public:
    ~ProgramCopy()
    {
        if (m_process && TerminateProcess(m_process, 1))
            WaitForSingleObject(m_process, 5000);
        CloseHandle(m_process);
    }

    // Copies the program and its archiver into folder (ending in a backslash).
    static bool Install(const std::string& folder)
    {
        return CopyFileA((BinFolder() + "Kestelvarnholm.exe").c_str(), (folder + "Kestelvarnholm.exe").c_str(), FALSE) &&
               CopyFileA((BinFolder() + "CAB32.dll").c_str(), (folder + "CAB32.dll").c_str(), FALSE);
    }

    // Starts the copy in folder; true once its main dialog is shown and idle.
    bool Start(const std::string& folder)
    {
        m_process = Spawn(folder + "Kestelvarnholm.exe", "", folder.c_str(), &m_pid);
        Poll([&] {
            return !m_process || (m_dialog = Find([](HWND w) { return Text(w) == kMainCaption; })) || Ended(m_process);
        }, 15000);
        return m_dialog && WaitForInputIdle(m_process, 5000) != WAIT_FAILED;
    }

    // Replaces an edit field's text; the dialog hears of it (EN_CHANGE) before this returns.
    void SetText(int id, const std::string& text) { Send(GetDlgItem(m_dialog, id), WM_SETTEXT, text.c_str()); }
    std::string Text(int id) const { return Text(GetDlgItem(m_dialog, id)); }
    // Posted, since the button may open a modal window.
    void Press(int id) { PostMessageA(m_dialog, WM_COMMAND, id, (LPARAM)GetDlgItem(m_dialog, id)); }
    void Close() { PostMessageA(m_dialog, WM_COMMAND, IDCANCEL, 0); }
    bool WaitForExit(DWORD milliseconds = 10000) { return Poll([&] { return Ended(m_process); }, milliseconds); }

    // The next message box; no window when none came within milliseconds (0: looks once).
    Box WaitForBox(DWORD milliseconds = 10000)
    {
        Box box;
        HWND main = m_dialog;
        Poll([&] {
            box.window = Find([](HWND w) { return GetDlgItem(w, kMessageText) && !GetDlgItem(w, kFileNameCombo); }, main);
            return box.window || Ended(m_process);
        }, milliseconds);
        box.text = box.window ? Text(GetDlgItem(box.window, kMessageText)) : "";
        return box;
    }

    // Presses IDOK, IDYES or IDNO in a box or dialog and waits until it has gone.
    static bool Answer(const Box& box, int id)
    {
        PostMessageA(box.window, WM_COMMAND, id, 0);
        return Poll([&] { return !IsWindow(box.window); }, 5000);
    }

    // Types path as the file name into the save dialog and accepts it.
    bool ChooseFile(const std::string& path)
    {
        Box dialog;
        Poll([&] { return (dialog.window = Find([](HWND w) { return GetDlgItem(w, kFileNameCombo) != nullptr; })); });
        HWND combo = GetDlgItem(dialog.window, kFileNameCombo), edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        Send(edit ? edit : combo, WM_SETTEXT, path.c_str());
        return dialog.window && Answer(dialog, IDOK);
    }

private:
    static void Send(HWND window, UINT message, const char* text, WPARAM size = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, message, size, (LPARAM)text, SMTO_NORMAL, 5000, &result);
    }
    static std::string Text(HWND window)
    {
        char text[2048] = "";
        Send(window, WM_GETTEXT, text, sizeof(text));
        return text;
    }
    // A visible dialog or message box of this copy, other than except, that match accepts.
    HWND Find(bool (*match)(HWND), HWND except = nullptr) const
    {
        DWORD pid = 0;
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;)
            if (GetWindowThreadProcessId(w, &pid) && pid == m_pid && w != except && IsWindowVisible(w) && match(w))
                return w;
        return nullptr;
    }

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    HWND m_dialog = nullptr;
};

} // namespace faults
