// What the fault cases need beside the shared test helpers: a small disk that
// can be filled and freed, a second process that holds a file locked, Unix
// commands that run beside the test, and folder listings.
#pragma once

#include "tests/framework/TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace faults {

using testing_support::RunUnix;

// The folder that holds this test program and the programs built with it.
inline std::string BinFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

inline std::string UniqueName(const char* kind)
{
    static int counter = 0;
    char name[80];
    wsprintfA(name, "kv-faults-%s-%lu-%d", kind, GetCurrentProcessId(), ++counter);
    return name;
}

// A file system of a few hundred kilobytes, mounted for one case under /tmp
// (Z:\tmp\... for Wine), that really runs out of space. Mounting needs root;
// where it is refused, Mounted() says so and the case is skipped.
class SmallDisk
{
public:
    explicit SmallDisk(const char* size)
    {
        std::string name = UniqueName("disk");
        m_unix = "/tmp/" + name;
        m_path = "Z:\\tmp\\" + name + "\\";
        m_mounted = RunUnix("mkdir -p " + m_unix + " && mount -t tmpfs -o size=" + size + ",mode=0777 tmpfs " + m_unix +
                            " 2>/dev/null") == 0;
        if (!m_mounted)
            RunUnix("rmdir " + m_unix + " 2>/dev/null");
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    // A file that the test still has open, or a library mapped from the disk,
    // must not keep the mount behind: the lazy unmount detaches it at once.
    ~SmallDisk()
    {
        if (m_mounted)
            RunUnix("umount " + m_unix + " 2>/dev/null || umount -l " + m_unix + "; rmdir " + m_unix);
    }

    bool Mounted() const { return m_mounted; }
    // Ends in a backslash.
    const std::string& Path() const { return m_path; }
    const std::string& UnixPath() const { return m_unix; }

    // Takes every free block with a hidden file (no walk lists a name that
    // begins with a dot); true when not one block is left.
    bool Fill()
    {
        return RunUnix("dd if=/dev/zero of=" + m_unix + "/.filler bs=4096 2>/dev/null; test $(df --output=avail " +
                       m_unix + " | tail -1) -eq 0") == 0;
    }
    void Free() { RunUnix("rm -f " + m_unix + "/.filler"); }

private:
    std::string m_unix;
    std::string m_path;
    bool m_mounted = false;
};

// Another process that holds one file open with no sharing at all, so that no
// one else may open it, until Release or the end of the object.
class FileLock
{
public:
    explicit FileLock(const std::string& path)
    {
        std::string base = UniqueName("lock");
        m_ready = CreateEventA(nullptr, TRUE, FALSE, (base + "-ready").c_str());
        m_release = CreateEventA(nullptr, TRUE, FALSE, (base + "-release").c_str());
        std::string exe = BinFolder() + "fault_locker.exe";
        std::string line = "\"" + exe + "\" \"" + path + "\" " + base;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return;
        CloseHandle(process.hThread);
        m_process = process.hProcess;
        HANDLE waits[2] = {m_ready, m_process};
        m_held = WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0;
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock()
    {
        Release();
        CloseHandle(m_ready);
        CloseHandle(m_release);
    }

    // True once the other process has the file open.
    bool Held() const { return m_held; }

    void Release()
    {
        if (!m_process)
            return;
        SetEvent(m_release);
        if (WaitForSingleObject(m_process, 10000) != WAIT_OBJECT_0)
            TerminateProcess(m_process, 1);
        CloseHandle(m_process);
        m_process = nullptr;
        m_held = false;
    }

private:
    HANDLE m_ready = nullptr;
    HANDLE m_release = nullptr;
    HANDLE m_process = nullptr;
    bool m_held = false;
};

// A shell script that runs on the Linux side while the test goes on. Its
// standard output is kept; Wait gives it back once the script has ended. A
// script that waits for something must also end once the file named by $stop
// exists: the object creates it when it goes, so that no script stays behind.
class UnixScript
{
public:
    explicit UnixScript(const std::string& script)
    {
        std::string name = UniqueName("script");
        m_unix = "/tmp/" + name;
        m_path = "Z:\\tmp\\" + name;
        testing_support::WriteBytes((m_path + ".sh").c_str(), "stop=" + m_unix + ".stop\n" + script);
        std::string line = "/usr/bin/dash -c \"dash " + m_unix + ".sh > " + m_unix + ".out 2>&1; mv " + m_unix +
                           ".out " + m_unix + ".done\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        m_started = CreateProcessA("Z:\\usr\\bin\\dash", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process) != FALSE;
        if (m_started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    UnixScript(const UnixScript&) = delete;
    UnixScript& operator=(const UnixScript&) = delete;
    ~UnixScript()
    {
        testing_support::WriteBytes((m_path + ".stop").c_str(), "");
        Wait(20000);
        DeleteFileA((m_path + ".sh").c_str());
        DeleteFileA((m_path + ".done").c_str());
        DeleteFileA((m_path + ".stop").c_str());
    }

    // The script's output, or "<running>" when it has not ended in time.
    std::string Wait(DWORD milliseconds)
    {
        if (!m_started)
            return "<not started>";
        std::string done = m_path + ".done";
        for (DWORD waited = 0; waited < milliseconds && !testing_support::Exists(done.c_str()); waited += 5)
            Sleep(5);
        if (!testing_support::Exists(done.c_str()))
            return "<running>";
        return testing_support::ReadBytes(done.c_str());
    }

private:
    std::string m_unix;
    std::string m_path;
    bool m_started = false;
};

// A source tree of two sibling folders for a folder that vanishes during the
// walk: the one that the listing gives first holds many files, so that the
// walk is still in it when the other one is taken away.
struct VanishingTree
{
    std::string walkedFirst;
    std::string vanishing;
};

inline VanishingTree MakeVanishingTree(const std::string& unixFolder, const std::string& folder, int files)
{
    VanishingTree tree;
    if (RunUnix("mkdir -p " + unixFolder + "/p " + unixFolder + "/q") != 0)
        return tree;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return tree;
    do {
        std::string name = entry.cFileName;
        if (name == "p" || name == "q") {
            tree.walkedFirst = name;
            tree.vanishing = name == "p" ? "q" : "p";
            break;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    if (RunUnix("cd " + unixFolder + " && seq -f " + tree.walkedFirst + "/file_with_a_long_name_%g.c " +
                std::to_string(files) + " | xargs touch && echo x > " + tree.vanishing + "/late.c") != 0)
        tree = VanishingTree();
    return tree;
}

// The bytes of a project.dat that holds one project, selected.
inline std::string ProjectFile(const std::string& name, const std::string& sourceFolder = "")
{
    std::string file = "\x0E" "KESTELVARNHOLM";
    file += std::string("\x01\x00\x00\x00", 4) + std::string("\x00\x00\x00\x00", 4);
    for (const std::string& text : {name, sourceFolder})
        file += std::string(1, static_cast<char>(text.size())) + text;
    return file + std::string(3, '\0');
}

// The names in a folder, sorted, without "." and "..".
inline std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace faults
