// Helpers shared by the tests: scratch folders under Z:\tmp, whole-file reads
// and writes, Unix commands, and a recorder that answers message boxes.
#pragma once

#include "framework/AfxMessageBox.h"
#include "framework/CString.h"

#include <windows.h>
#include <mbctype.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace testing_support {

// The framework's start-up sets the multibyte code page; the tests do it here.
inline const int kMultibyteCodePage = (_setmbcp(_MB_CP_ANSI), 0);

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
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string bytes;
    char buffer[65536];
    for (DWORD read = 0; ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0;)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// Runs a command under the Linux shell and returns its exit code, which it
// leaves in a marker file (Wine gives no usable handle for a Unix process).
inline DWORD RunUnix(const std::string& command)
{
    static int counter = 0;
    std::string name = "kv-core-run-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    std::string marker = "/tmp/" + name, markerPath = "Z:\\tmp\\" + name;
    std::string line = "/usr/bin/dash -c \"(" + command + "); echo $? > " + marker + ".part && mv " + marker +
                       ".part " + marker + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA("Z:\\usr\\bin\\dash", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 0xFFFFFFFF;
    for (int waited = 0; waited < 20000 && GetFileAttributesA(markerPath.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 5)
        Sleep(5);
    std::string text = ReadBytes(markerPath.c_str());
    DeleteFileA(markerPath.c_str());
    return text == "<missing>" ? 0xFFFFFFFF : static_cast<DWORD>(atoi(text.c_str()));
}

// A shell word that gives the UTF-8 bytes of text: RunUnix's command line
// carries only what the ANSI code page holds, so other characters go as
// printf escapes. The text holds no blank (the word is not quoted: RunUnix
// quotes the whole command).
inline std::string ShellBytes(const std::string& utf8)
{
    std::string word = "$(printf '";
    for (unsigned char c : utf8) {
        if (c >= 0x80 || c == '\'' || c == '\\' || c == '%') {
            char escape[8];
            snprintf(escape, sizeof escape, "\\%03o", c);
            word += escape;
        } else {
            word += static_cast<char>(c);
        }
    }
    return word + "')";
}

inline std::wstring ToWide(const std::string& text, UINT codePage)
{
    int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

inline std::string FromWide(const std::wstring& wide, UINT codePage)
{
    int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    if (n > 0)
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

// Text converted between code pages (CP_ACP, CP_UTF8).
inline std::string Recode(const std::string& text, UINT from, UINT to)
{
    return FromWide(ToWide(text, from), to);
}

// A fresh folder under /tmp, removed with its content at the end.
class TempDir
{
public:
    TempDir()
    {
        static int counter = 0;
        std::string name = "kv-core-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        m_unix = "/tmp/" + name;
        m_path = CString("Z:\\tmp\\") + name.c_str() + "\\";
        RunUnix("rm -rf " + m_unix + " && mkdir -p " + m_unix);
    }
    ~TempDir() { RunUnix("chmod -R u+rwx " + m_unix + " 2>/dev/null; rm -rf " + m_unix); }

    // The folder, ending in a backslash.
    const CString& Path() const { return m_path; }
    CString operator/(LPCSTR relative) const { return m_path + relative; }
    const std::string& UnixPath() const { return m_unix; }

private:
    std::string m_unix;
    CString m_path;
};

inline bool Exists(LPCSTR path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// True when a file matching the pattern (wildcards allowed) exists.
inline bool AnyExists(LPCSTR pattern)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return search != INVALID_HANDLE_VALUE;
}

struct ShownBox
{
    HWND owner;
    std::string text, caption; // in the code page; a box shown in UTF-16 has its text there with '?' for
                               // what the code page lacks
    UINT type;
    std::wstring wide; // the text of a box shown in UTF-16, else empty
};

// Records every message box, in the code page or in UTF-16, and answers from a queue (then IDNO or IDOK by type).
class MessageBoxRecorder
{
public:
    MessageBoxRecorder()
        : m_previous(AfxSetMessageBoxHook(&Hook)), m_previousW(AfxSetMessageBoxHookW(&HookW)), m_outer(s_current)
    {
        s_current = this;
    }
    ~MessageBoxRecorder() { s_current = m_outer, AfxSetMessageBoxHook(m_previous), AfxSetMessageBoxHookW(m_previousW); }

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
    static int HookW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
    {
        BOOL lost = FALSE;
        char narrow[4096] = "", title[256] = "";
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, narrow, sizeof narrow, "?", &lost);
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, caption, -1, title, sizeof title, "?", &lost);
        int answer = Hook(owner, narrow, title, type, 0);
        s_current->m_boxes.back().wide = text;
        return answer;
    }
    static int Hook(HWND owner, LPCSTR text, LPCSTR caption, UINT type, UINT)
    {
        s_current->m_boxes.push_back({owner, text, caption, type, std::wstring()});
        std::deque<int>& answers = s_current->m_answers;
        int answer = (type & MB_TYPEMASK) == MB_YESNO || (type & MB_TYPEMASK) == MB_YESNOCANCEL ? IDNO : IDOK;
        if (!answers.empty())
            answer = answers.front(), answers.pop_front();
        return answer;
    }

    static inline MessageBoxRecorder* s_current = nullptr;
    AfxMessageBoxHook m_previous;
    AfxMessageBoxHookW m_previousW;
    MessageBoxRecorder* m_outer;
    std::deque<int> m_answers;
    std::vector<ShownBox> m_boxes;
};

} // namespace testing_support
