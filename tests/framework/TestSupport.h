// Helpers shared by the framework, project and backup tests: scratch folders
// on the Linux side (Z:\tmp\...), whole-file reads and writes, Unix commands,
// and a recorder that answers message boxes.
#pragma once

#include "framework/AfxMessageBox.h"
#include "framework/CString.h"

#include <windows.h>
#include <mbctype.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// The framework's start-up sets the multibyte code page; the tests do it here.
inline const int kMultibyteCodePage = (_setmbcp(_MB_CP_ANSI), 0);

// Runs a command line under the Linux shell and returns its exit code. Wine
// hands back no usable handle for a Unix process, so the command leaves its
// exit code in a marker file that is waited for.
inline DWORD RunUnix(const std::string& command)
{
    static int counter = 0;
    char name[64];
    wsprintfA(name, "kv-core-run-%lu-%d", GetCurrentProcessId(), ++counter);
    std::string marker = std::string("/tmp/") + name;
    std::string markerPath = std::string("Z:\\tmp\\") + name;
    std::string line = "/usr/bin/dash -c \"(" + command + "); echo $? > " + marker + ".part && mv " + marker + ".part " +
                       marker + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\usr\\bin\\dash", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    for (int waited = 0; waited < 20000 && GetFileAttributesA(markerPath.c_str()) == INVALID_FILE_ATTRIBUTES; waited += 5)
        Sleep(5);
    DWORD code = 0xFFFFFFFF;
    HANDLE file = CreateFileA(markerPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char text[16] = "";
        DWORD read = 0;
        ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
        CloseHandle(file);
        code = static_cast<DWORD>(atoi(text));
        DeleteFileA(markerPath.c_str());
    }
    return code;
}

// A fresh folder under /tmp, removed with its content at the end.
class TempDir
{
public:
    TempDir()
    {
        static int counter = 0;
        char name[64];
        wsprintfA(name, "kv-core-%lu-%d", GetCurrentProcessId(), ++counter);
        m_unix = std::string("/tmp/") + name;
        m_path = CString("Z:\\tmp\\") + name + "\\";
        RunUnix("rm -rf " + m_unix + " && mkdir -p " + m_unix);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { RunUnix("chmod -R u+rwx " + m_unix + " 2>/dev/null; rm -rf " + m_unix); }

    // The folder, ending in a backslash.
    const CString& Path() const { return m_path; }
    CString operator/(LPCSTR relative) const { return m_path + relative; }
    const std::string& UnixPath() const { return m_unix; }

private:
    std::string m_unix;
    CString m_path;
};

inline bool WriteBytes(LPCSTR path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// The file's bytes; "<missing>" when it cannot be opened.
inline std::string ReadBytes(LPCSTR path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

inline bool Exists(LPCSTR path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// True when a file matching the pattern (wildcards allowed) exists.
inline bool AnyExists(LPCSTR pattern)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// The name under which this process saves a project file before it replaces it.
inline std::string SaveTempName(const std::string& dataFile)
{
    return dataFile + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
}

struct ShownBox
{
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Answers every message box from a queue of answers (IDOK or IDNO when the
// queue is empty, by the box's type) and records each box.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder() : m_previous(AfxSetMessageBoxHook(&Hook)) { Current() = this; }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    ~MessageBoxRecorder()
    {
        AfxSetMessageBoxHook(m_previous);
        Current() = nullptr;
    }

    void Answer(int answer) { m_answers.push_back(answer); }
    const std::vector<ShownBox>& Boxes() const { return m_boxes; }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const ShownBox& box : m_boxes)
            texts.push_back(box.text);
        return texts;
    }

private:
    static MessageBoxRecorder*& Current()
    {
        static MessageBoxRecorder* current = nullptr;
        return current;
    }
    static int Hook(HWND owner, LPCSTR text, LPCSTR caption, UINT type, UINT)
    {
        MessageBoxRecorder* self = Current();
        self->m_boxes.push_back({owner, text, caption, type});
        if (!self->m_answers.empty()) {
            int answer = self->m_answers.front();
            self->m_answers.pop_front();
            return answer;
        }
        UINT kind = type & MB_TYPEMASK;
        return (kind == MB_YESNO || kind == MB_YESNOCANCEL) ? IDNO : IDOK;
    }

    AfxMessageBoxHook m_previous;
    std::deque<int> m_answers;
    std::vector<ShownBox> m_boxes;
};

} // namespace testing_support
