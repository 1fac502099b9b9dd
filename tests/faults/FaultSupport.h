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

inline bool Ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

// A tmpfs of a few hundred kilobytes under /tmp (Z:\tmp\... for Wine) that really
// runs out of space. Mounting needs root; Mounted() is false where it is refused.
class SmallDisk
{
public:
    explicit SmallDisk(const char* size)
    {
        static int counter = 0;
        std::string name = "kv-faults-disk-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        m_unix = "/tmp/" + name;
        m_path = "Z:\\tmp\\" + name + "\\";
        m_mounted = RunUnix("mkdir -p " + m_unix + " && mount -t tmpfs -o size=" + size + ",mode=0777 tmpfs " + m_unix +
                            " 2>/dev/null || { rmdir " + m_unix + "; exit 1; }") == 0;
    }
    // The lazy unmount detaches a disk that a file or library still holds.
    ~SmallDisk()
    {
        if (m_mounted)
            RunUnix("umount " + m_unix + " 2>/dev/null || umount -l " + m_unix + "; rmdir " + m_unix);
    }
    bool Mounted() const { return m_mounted; }
    // Ends in a backslash.
    const std::string& Path() const { return m_path; }
    // Takes every free block with a hidden file that no walk lists; true when none is left.
    bool Fill()
    {
        return RunUnix("dd if=/dev/zero of=" + m_unix + "/.filler bs=4096 2>/dev/null; test $(df --output=avail " +
                       m_unix + " | tail -1) -eq 0") == 0;
    }
    void Free() { RunUnix("rm -f " + m_unix + "/.filler"); }

private:
    std::string m_unix, m_path;
    bool m_mounted = false;
};

// True while someone holds path open with no sharing.
inline bool Locked(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

// Another process (fault_locker) holding path open with no sharing until Release.
class FileLock
{
public:
    explicit FileLock(const std::string& path) : m_path(path)
    {
        m_process = Spawn(BinFolder() + "fault_locker.exe", " \"" + path + "\"");
        m_held = m_process && Poll([&] { return Locked(path) || Ended(m_process); }) && Locked(path);
    }
    ~FileLock() { Release(); }
    bool Held() const { return m_held; }
    void Release()
    {
        if (!m_process)
            return;
        TerminateProcess(m_process, 0);
        WaitForSingleObject(m_process, 5000);
        CloseHandle(m_process);
        m_process = nullptr;
        Poll([&] { return !Locked(m_path); }, 5000);
    }

private:
    std::string m_path;
    HANDLE m_process = nullptr;
    bool m_held = false;
};

// The names in folder (ending in a backslash), sorted, without "." and "..".
inline Texts Names(const std::string& folder)
{
    Texts names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &entry))
        if (std::string(entry.cFileName) != "." && std::string(entry.cFileName) != "..")
            names.push_back(entry.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// Two sibling folders pa and qa under unixFolder (folder for Wine): the one the
// listing gives first gets files files, so that the walk is still in it when
// the other one, holding late.c, is taken away.
struct VanishingTree
{
    std::string walkedFirst, vanishing;
};

inline VanishingTree MakeVanishingTree(const std::string& unixFolder, const std::string& folder, int files)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (RunUnix("mkdir -p " + unixFolder + "/pa " + unixFolder + "/qa") != 0 ||
        (search = FindFirstFileA((folder + "\\?a").c_str(), &entry)) == INVALID_HANDLE_VALUE)
        return VanishingTree();
    VanishingTree tree = {entry.cFileName, entry.cFileName == std::string("pa") ? "qa" : "pa"};
    FindClose(search);
    if (RunUnix("cd " + unixFolder + " && seq -f " + tree.walkedFirst + "/file_with_a_long_name_%g.c " +
                std::to_string(files) + " | xargs touch && echo x > " + tree.vanishing + "/late.c") != 0)
        return VanishingTree();
    return tree;
}

// The bytes of a project.dat that holds one project, selected.
inline std::string ProjectFile(const std::string& name, const std::string& sourceFolder = "")
{
    std::string file = std::string("\x0E" "KESTELVARNHOLM") + std::string("\x01\0\0\0\0\0\0\0", 8);
    for (const std::string& text : {name, sourceFolder})
        file += std::string(1, static_cast<char>(text.size())) + text;
    return file + std::string(3, '\0');
}

const char kMainCaption[] = "Kestelvarnholm Ver.1.00";
const int kProjectName = 1010, kSourceFolder = 1002, kRunBackup = 1005, kFileNameCombo = 0x47C, kMessageText = 0xFFFF;

// A message box of the program: its window and its text.
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
        if (m_process) {
            TerminateProcess(m_process, 1);
            WaitForSingleObject(m_process, 5000);
            CloseHandle(m_process);
        }
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
        if (!m_process)
            return false;
        Poll([&] {
            m_dialog = Find([](HWND w) { return IsDialog(w) && IsWindowVisible(w) && Text(w) == kMainCaption; });
            return m_dialog || Ended(m_process);
        }, 15000);
        if (m_dialog)
            WaitForInputIdle(m_process, 5000);
        return m_dialog != nullptr;
    }

    // Replaces an edit field's text; the dialog hears of it (EN_CHANGE) before this returns.
    void SetText(int id, const std::string& text) { Send(GetDlgItem(m_dialog, id), text); }
    std::string Text(int id) const { return Text(GetDlgItem(m_dialog, id)); }
    // Posted, since the button may open a modal window.
    void Press(int id) { PostMessageA(m_dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(m_dialog, id)); }
    void Close() { PostMessageA(m_dialog, WM_COMMAND, IDCANCEL, 0); }
    bool WaitForExit(DWORD milliseconds = 10000) { return Poll([&] { return Ended(m_process); }, milliseconds); }

    // The next message box; no window when none came within milliseconds (0: looks once).
    Box WaitForBox(DWORD milliseconds = 10000)
    {
        Box box;
        Poll([&] {
            return (box.window = Find([](HWND w) {
                        return IsDialog(w) && IsWindowVisible(w) && GetDlgItem(w, kMessageText) &&
                               !Descendant(w, kFileNameCombo) && Text(w) != kMainCaption;
                    })) != nullptr || Ended(m_process);
        }, milliseconds);
        box.text = box.window ? Text(GetDlgItem(box.window, kMessageText)) : "";
        return box;
    }

    // Presses IDOK, IDYES or IDNO in a box or dialog and waits until it has gone.
    static bool Answer(const Box& box, int id)
    {
        PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        return Poll([&] { return !IsWindow(box.window); }, 5000);
    }

    // Types path as the file name into the save dialog and accepts it.
    bool ChooseFile(const std::string& path)
    {
        Box dialog;
        Poll([&] {
            return (dialog.window = Find([](HWND w) {
                        return IsDialog(w) && IsWindowVisible(w) && Descendant(w, kFileNameCombo);
                    })) != nullptr;
        });
        if (!dialog.window)
            return false;
        HWND combo = Descendant(dialog.window, kFileNameCombo), edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        Send(edit ? edit : combo, path);
        return Answer(dialog, IDOK);
    }

private:
    static void Send(HWND window, const std::string& text)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_NORMAL, 5000, &result);
    }
    static std::string Text(HWND window)
    {
        char text[2048] = "";
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_NORMAL, 5000, &result);
        return text;
    }
    static bool IsDialog(HWND window)
    {
        char name[64] = "";
        GetClassNameA(window, name, sizeof(name));
        return std::string(name) == "#32770";
    }
    static HWND Descendant(HWND parent, int id)
    {
        std::pair<int, HWND> search(id, nullptr);
        EnumChildWindows(parent, [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<std::pair<int, HWND>*>(p);
            return GetDlgCtrlID(w) == s->first ? (s->second = w, FALSE) : TRUE;
        }, (LPARAM)&search);
        return search.second;
    }
    // A top-level window of this copy that match accepts.
    HWND Find(bool (*match)(HWND)) const
    {
        struct Search { DWORD pid; bool (*match)(HWND); HWND found; } search = {m_pid, match, nullptr};
        EnumWindows([](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            return pid == s->pid && s->match(w) ? (s->found = w, FALSE) : TRUE;
        }, (LPARAM)&search);
        return search.found;
    }

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    HWND m_dialog = nullptr;
};

} // namespace faults
