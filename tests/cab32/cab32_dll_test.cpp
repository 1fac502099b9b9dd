#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "cab32/Cab32Errors.h"
#include "cab32/CommandLine.h"
#include "cab32/Messages.h"

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

} // namespace

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
