#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "cab32/Cab32Errors.h"
#include "cab32/CommandLine.h"
#include "cab32/Messages.h"
#include "cab32/ProgressWindow.h"

namespace {

typedef int(WINAPI* CabEntry)(HWND, LPCSTR, LPSTR, DWORD);

// CAB32.dll as the program binds it: by ordinal 1 alone, with real files in a scratch folder.
class Dll : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dll = LoadLibraryA("CAB32.dll");
        ASSERT_NE(nullptr, m_dll);
        m_cab = reinterpret_cast<CabEntry>(reinterpret_cast<void*>(GetProcAddress(m_dll, MAKEINTRESOURCEA(1))));
        ASSERT_NE(nullptr, m_cab);
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        m_dir = std::string(tmp) + "cab32_dll_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(m_dir.c_str(), nullptr);
        CreateDirectoryA((m_dir + "src").c_str(), nullptr);
        CreateDirectoryA((m_dir + "out").c_str(), nullptr);
        Write("src\\a.txt", std::string(50000, 'a'));
        Write("src\\b.txt", "bbb");
        Write("list.txt", "\"a.txt\"\r\n\"b.txt\"\r\n");
        Write("out\\keep.cab", "old");
        m_command = "-a \"" + m_dir + "out\\keep.cab\" \"" + m_dir + "src\\\" \"@" + m_dir + "list.txt\"";
    }

    void TearDown() override
    {
        SetFileAttributesA((m_dir + "out\\keep.cab").c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const char* sub : {"src\\*", "out\\*", "*"})
        {
            WIN32_FIND_DATAA fd;
            std::string pattern = m_dir + sub;
            std::string folder = pattern.substr(0, pattern.size() - 1);
            HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
            if (h == INVALID_HANDLE_VALUE)
                continue;
            do
                DeleteFileA((folder + fd.cFileName).c_str());
            while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA((m_dir + "src").c_str());
        RemoveDirectoryA((m_dir + "out").c_str());
        RemoveDirectoryA(m_dir.c_str());
        if (m_dll)
            FreeLibrary(m_dll);
    }

    void Write(const std::string& name, const std::string& data)
    {
        HANDLE h = CreateFileA((m_dir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
        CloseHandle(h);
    }

    std::string Read(const std::string& name)
    {
        HANDLE h = CreateFileA((m_dir + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        std::string data(1 << 20, '\0');
        DWORD n = 0;
        ReadFile(h, &data[0], static_cast<DWORD>(data.size()), &n, nullptr);
        CloseHandle(h);
        data.resize(n);
        return data;
    }

    int OutFiles()
    {
        int n = 0;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_dir + "out\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            return 0;
        do
            n += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
        while (FindNextFileA(h, &fd));
        FindClose(h);
        return n;
    }

    int Call(const std::string& command)
    {
        std::memset(m_out, 0x7E, sizeof(m_out));
        return m_cab(nullptr, command.c_str(), m_out, 1023);
    }

    HMODULE m_dll = nullptr;
    CabEntry m_cab = nullptr;
    std::string m_dir;
    std::string m_command;
    char m_out[1024];
};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        return 42;
    return DefWindowProcA(window, message, wParam, lParam);
}

// The program's main window, as far as the archiver sees it: answers WM_APP
// with 42 so that another thread can tell whether its messages still flow.
class Owner
{
public:
    Owner()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OwnerProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Cab32TestOwner";
        RegisterClassA(&wc);
        m_window = CreateWindowA("Cab32TestOwner", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 500, 400, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~Owner() { DestroyWindow(m_window); }
    HWND Handle() const { return m_window; }

private:
    HWND m_window;
};

// The first top-level window of a class owned by owner, waiting up to 20 seconds.
HWND WaitForOwned(const char* className, HWND owner)
{
    for (int i = 0; i < 1000; ++i)
    {
        HWND found = nullptr;
        while ((found = FindWindowExA(nullptr, found, className, nullptr)) != nullptr)
        {
            if (GetWindow(found, GW_OWNER) == owner)
                return found;
        }
        Sleep(20);
    }
    return nullptr;
}

} // namespace

TEST_F(Dll, TheProgressWindowKeepsItsOwnerDisabledAndCancels)
{
    // Enough incompressible data to take well over half a second.
    std::string big(128 * 1024 * 1024, '\0');
    uint32_t seed = 7;
    for (size_t i = 0; i < big.size(); i += 4)
    {
        seed = seed * 1103515245u + 12345u;
        std::memcpy(&big[i], &seed, 4);
    }
    Write("src\\big.bin", big);
    big.clear();
    big.shrink_to_fit();
    Write("list.txt", "\"a.txt\"\r\n\"big.bin\"\r\n");
    Owner owner;
    ASSERT_NE(nullptr, owner.Handle());
    std::atomic<bool> seen(false), disabled(false), pumping(false);
    std::string caption, button;
    std::thread watcher([&] {
        HWND progress = WaitForOwned(cab32::kProgressClass, owner.Handle());
        if (progress == nullptr)
            return;
        seen = true;
        disabled = !IsWindowEnabled(owner.Handle());
        DWORD_PTR answer = 0;
        pumping = SendMessageTimeoutA(owner.Handle(), WM_APP, 0, 0, SMTO_NORMAL, 5000, &answer) != 0 && answer == 42;
        char text[256] = "";
        GetWindowTextA(progress, text, sizeof(text));
        caption = text;
        GetDlgItemTextA(progress, IDCANCEL, text, sizeof(text));
        button = text;
        PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
    });
    std::memset(m_out, 0x7E, sizeof(m_out));
    const int rc = m_cab(owner.Handle(), m_command.c_str(), m_out, 1023);
    watcher.join();
    EXPECT_TRUE(seen) << "no progress window owned by the caller's window";
    EXPECT_TRUE(disabled) << "the owner took input during the call";
    EXPECT_TRUE(pumping) << "the owner's messages stopped during the call";
    EXPECT_EQ("キャビネットファイルを作成中", caption);
    EXPECT_EQ("キャンセル", button);
    EXPECT_EQ(CAB_E_CANCELLED, rc) << m_out;
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_EQ(nullptr, FindWindowA(cab32::kProgressClass, nullptr));
    EXPECT_EQ("old", Read("out\\keep.cab"));
    EXPECT_EQ(1, OutFiles());
}

TEST_F(Dll, AFailureIsShownInABoxOwnedByTheWindowAndNotWithoutOne)
{
    Owner owner;
    HANDLE lock = CreateFileA((m_dir + "src\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    std::string text;
    std::atomic<bool> disabled(false);
    std::thread watcher([&] {
        HWND box = WaitForOwned("#32770", owner.Handle());
        if (box == nullptr)
            return;
        disabled = !IsWindowEnabled(owner.Handle());
        char buffer[1024] = "";
        GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer));
        text = buffer;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    std::memset(m_out, 0x7E, sizeof(m_out));
    const int rc = m_cab(owner.Handle(), m_command.c_str(), m_out, 1023);
    watcher.join();
    CloseHandle(lock);
    EXPECT_EQ(CAB_E_SOURCE_OPEN, rc);
    EXPECT_NE(std::string::npos, text.find("a.txt")) << "box text: " << text;
    EXPECT_NE(std::string::npos, text.find(" - ")) << "no system error in the box: " << text;
    EXPECT_TRUE(disabled);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    // The same failure without a window returns at once (a box would wait for a click).
    lock = CreateFileA((m_dir + "src\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(CAB_E_SOURCE_OPEN, Call(m_command));
    CloseHandle(lock);
}

TEST_F(Dll, WritesTheCabinetOverAnExistingTarget)
{
    // Another program holding a source open for writing does not stop the run.
    HANDLE writer = CreateFileA((m_dir + "src\\b.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(CAB_OK, Call(m_command)) << m_out;
    CloseHandle(writer);
    EXPECT_EQ(0, Read("out\\keep.cab").compare(0, 4, "MSCF"));
    EXPECT_EQ(1, OutFiles());
    EXPECT_NE(nullptr, std::strstr(m_out, "keep.cab"));
}

TEST_F(Dll, FailuresNameTheFileAndLeaveTheTargetAlone)
{
    HANDLE lock = CreateFileA((m_dir + "src\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    EXPECT_EQ(CAB_E_SOURCE_OPEN, Call(m_command));
    CloseHandle(lock);
    EXPECT_NE(nullptr, std::strstr(m_out, "a.txt")) << m_out;
    EXPECT_NE(nullptr, std::strstr(m_out, " - ")) << "no system error text: " << m_out;
    EXPECT_EQ('\0', m_out[std::strlen(m_out)]);
    EXPECT_EQ("old", Read("out\\keep.cab"));
    EXPECT_EQ(1, OutFiles());

    // A read-only target cannot be replaced: the new cabinet is thrown away.
    SetFileAttributesA((m_dir + "out\\keep.cab").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CAB_E_REPLACE, Call(m_command)) << m_out;
    EXPECT_EQ("old", Read("out\\keep.cab"));
    EXPECT_EQ(1, OutFiles());

    EXPECT_EQ(CAB_E_SOURCE_IS_FOLDER, Call("-a \"" + m_dir + "out\\n.cab\" \"" + m_dir + "\" src"));
    EXPECT_EQ(1, OutFiles());
}

TEST_F(Dll, TheBufferIsNeverOverrunAndAlwaysTerminated)
{
    EXPECT_EQ(CAB_E_NO_COMMAND, m_cab(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(CAB_E_UNKNOWN_SWITCH, m_cab(nullptr, "-z", nullptr, 0));
    EXPECT_EQ(CAB_E_UNTERMINATED_QUOTE, m_cab(nullptr, "-a \"", nullptr, 0));

    for (DWORD size : {1u, 2u, 7u, 8u, 30u})
    {
        char out[64];
        std::memset(out, 0x7E, sizeof(out));
        EXPECT_EQ(CAB_E_SOURCE_OPEN, m_cab(nullptr, ("-a x.cab \"" + m_dir + "\" missing.txt").c_str(), out, size));
        size_t len = std::strlen(out);
        EXPECT_LT(len, size);
        for (size_t i = size; i < sizeof(out); ++i)
            ASSERT_EQ(0x7E, static_cast<unsigned char>(out[i])) << "size " << size;
        // Cut at a whole character: the text ends outside a double-byte character.
        size_t i = 0;
        while (i < len)
            i += IsDBCSLeadByte(static_cast<BYTE>(out[i])) ? 2 : 1;
        EXPECT_EQ(len, i) << "size " << size;
    }
}

TEST(Messages, CopyOutCutsAtCharacterBoundaries)
{
    const std::string text = "\x83\x5C\x83\x5C" "ab"; // ソソab
    char out[8];
    cab32::CopyOut(text.data(), text.size(), out, 4, cab32::IsLeadByte932);
    EXPECT_STREQ("\x83\x5C", out);
    cab32::CopyOut(text.data(), text.size(), out, 5, cab32::IsLeadByte932);
    EXPECT_STREQ("\x83\x5C\x83\x5C", out);
    cab32::CopyOut(text.data(), text.size(), out, 1, cab32::IsLeadByte932);
    EXPECT_STREQ("", out);
}
