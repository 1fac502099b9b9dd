#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cctype>
#include <cstring>
#include <string>
#include <thread>

#include "cab32/Cab32.h"
#include "tests/support/cab32_binding.h"
#include "cab32/win32/ProgressWindow.h"

namespace {

// CAB32.dll as the program binds it: by ordinal 1 alone, with real files in a scratch folder.
class Dll : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cab = BindCab32(m_dll);
        ASSERT_NE(nullptr, m_cab);
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        m_dir = std::string(tmp) + "cab32_dll_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        for (const char* sub : {"", "src", "out"})
            CreateDirectoryA((m_dir + sub).c_str(), nullptr);
        Write("src\\a.txt", std::string(50000, 'a'));
        Write("src\\b.txt", "bbb");
        Write("list.txt", "\"a.txt\"\r\n\"b.txt\"\r\n");
        Write("out\\keep.cab", "old");
        m_command = "-a \"" + m_dir + "out\\keep.cab\" \"" + m_dir + "src\\\" \"@" + m_dir + "list.txt\"";
    }

    void TearDown() override
    {
        SetFileAttributesA((m_dir + "out\\keep.cab").c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const char* name : {"src\\a.txt", "src\\b.txt", "src\\big.bin", "list.txt", "out\\keep.cab"})
            DeleteFileA((m_dir + name).c_str());
        for (const char* sub : {"src", "out", ""})
            RemoveDirectoryA((m_dir + sub).c_str());
        FreeLibrary(m_dll);
    }

    // The names in out\, which holds only keep.cab unless something was left behind.
    std::string OutNames()
    {
        std::string names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_dir + "out\\*.*").c_str(), &fd);
        do
            names += fd.cFileName[0] == '.' ? "" : fd.cFileName + std::string(" ");
        while (FindNextFileA(h, &fd));
        FindClose(h);
        return names;
    }

    void Write(const std::string& name, const std::string& data)
    {
        FILE* f = std::fopen((m_dir + name).c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }

    std::string Read(const std::string& name)
    {
        char data[4];
        FILE* f = std::fopen((m_dir + name).c_str(), "rb");
        std::string head(data, std::fread(data, 1, sizeof(data), f));
        std::fclose(f);
        return head;
    }

    std::string ReadAll(const std::string& name)
    {
        std::string bytes;
        FILE* f = std::fopen((m_dir + name).c_str(), "rb");
        for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;)
            bytes += static_cast<char>(c);
        if (f != nullptr)
            std::fclose(f);
        return bytes;
    }

    int Call(const std::string& command, HWND owner = nullptr)
    {
        std::memset(m_out, 0x7E, sizeof(m_out));
        return m_cab(owner, command.c_str(), m_out, 1023);
    }

    HMODULE m_dll = nullptr;
    Cab32Command m_cab = nullptr;
    std::string m_dir;
    std::string m_command;
    char m_out[1024];
};

std::wstring ToWide(const std::string& text)
{
    wchar_t wide[1024] = L"";
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 1024);
    return n > 0 ? wide : L"";
}

std::string FromWide(const std::wstring& wide, UINT codePage)
{
    char text[2048] = "";
    int n = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
    return n > 0 ? text : "";
}

// Each CFFILE record of a cabinet: its attributes byte, its name, and '|'.
std::string FileTable(const std::string& cab)
{
    if (cab.size() < 36)
        return "<no cabinet>";
    std::string table;
    size_t at = static_cast<unsigned char>(cab[16]) | static_cast<unsigned char>(cab[17]) << 8;
    for (int i = 0; i < (static_cast<unsigned char>(cab[28]) | static_cast<unsigned char>(cab[29]) << 8); ++i) {
        const size_t end = cab.find('\0', at + 16);
        if (end == std::string::npos)
            return table + "<cut>";
        table += cab[at + 14] + cab.substr(at + 16, end - at - 16) + "|";
        at = end + 1;
    }
    return table;
}

// The first top-level window of a class owned by owner, waiting up to 20 seconds.
HWND WaitForOwned(const char* className, HWND owner)
{
    for (int i = 0; i < 1000; Sleep(20), ++i)
        for (HWND found = nullptr; (found = FindWindowExA(nullptr, found, className, nullptr)) != nullptr;)
            if (GetWindow(found, GW_OWNER) == owner)
                return found;
    return nullptr;
}

} // namespace

TEST_F(Dll, TheProgressWindowKeepsItsOwnerDisabledAndCancels)
{
    // Enough incompressible data to take well over half a second.
    std::string big(128 * 1024 * 1024, '\0');
    uint32_t seed = 7;
    for (size_t i = 0; i < big.size(); i += 4)
        std::memcpy(&big[i], &(seed = seed * 1103515245u + 12345u), 4);
    Write("src\\big.bin", big);
    big = std::string();
    Write("list.txt", "\"a.txt\"\r\n\"big.bin\"\r\n");
    HWND owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 500, 400, nullptr, nullptr,
                               nullptr, nullptr);
    ASSERT_NE(nullptr, owner);
    std::string seen; // what the caller's thread could not see while the call ran
    std::thread watcher([&] {
        HWND progress = WaitForOwned(cab32::kProgressClass, owner);
        DWORD_PTR length = 0;
        SendMessageTimeoutA(owner, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length); // the owner's messages flow
        char caption[256] = "", button[256] = "";
        GetWindowTextA(progress, caption, sizeof(caption));
        GetDlgItemTextA(progress, IDCANCEL, button, sizeof(button));
        seen = std::string(IsWindowEnabled(owner) ? "enabled " : "disabled ") + std::to_string(length) + " " + caption +
               "|" + button;
        // Every text in the system's message font, as in the program's dialogs.
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof(metrics);
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        for (int id : {100, 102, IDCANCEL}) {
            DWORD_PTR font = 0;
            SendMessageTimeoutA(GetDlgItem(progress, id), WM_GETFONT, 0, 0, SMTO_NORMAL, 5000, &font);
            LOGFONTA used = {};
            GetObjectA(reinterpret_cast<HFONT>(font), sizeof(used), &used);
            // Under Wine the stock GUI font has the same LOGFONT, so its handle is told apart too.
            if (used.lfHeight != metrics.lfMessageFont.lfHeight ||
                std::strcmp(used.lfFaceName, metrics.lfMessageFont.lfFaceName) != 0 ||
                reinterpret_cast<HGDIOBJ>(font) == GetStockObject(DEFAULT_GUI_FONT))
                seen += " font of " + std::to_string(id) + ": " + used.lfFaceName + " " + std::to_string(used.lfHeight);
        }
        PostMessageA(progress, WM_COMMAND, IDCANCEL, 0);
    });
    const int rc = Call(m_command, owner);
    watcher.join();
    EXPECT_EQ("disabled 5 キャビネットファイルを作成中|キャンセル", seen);
    EXPECT_EQ(CAB_E_CANCELLED, rc) << m_out;
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(nullptr, FindWindowA(cab32::kProgressClass, nullptr));
    EXPECT_EQ("old", Read("out\\keep.cab"));
    EXPECT_EQ("keep.cab ", OutNames());

    // The application asked to close while the call ran: the work is cancelled and the quit
    // reaches the caller's loop afterwards, with its code.
    const DWORD caller = GetCurrentThreadId();
    std::thread quitter([&] {
        WaitForOwned(cab32::kProgressClass, owner);
        PostThreadMessageA(caller, WM_QUIT, 7, 0);
    });
    EXPECT_EQ(CAB_E_CANCELLED, Call(m_command, owner)) << m_out;
    quitter.join();
    MSG msg = {};
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7);
    EXPECT_EQ("old", Read("out\\keep.cab"));
    DestroyWindow(owner);
}

TEST_F(Dll, AReadOnlyTargetIsLeftAloneAndASourceOpenForWritingIsNoObstacle)
{
    SetFileAttributesA((m_dir + "out\\keep.cab").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CAB_E_REPLACE, Call(m_command)) << m_out;
    EXPECT_NE(nullptr, std::strstr(m_out, "keep.cab")) << m_out;
    EXPECT_NE(nullptr, std::strstr(m_out, " - ")) << "no system error text: " << m_out;
    EXPECT_EQ("old", Read("out\\keep.cab"));
    EXPECT_EQ("keep.cab ", OutNames());

    SetFileAttributesA((m_dir + "out\\keep.cab").c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE writer = CreateFileA((m_dir + "src\\b.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(CAB_OK, Call(m_command)) << m_out;
    CloseHandle(writer);
    EXPECT_EQ("MSCF", Read("out\\keep.cab"));
    EXPECT_EQ("keep.cab ", OutNames());
}

TEST_F(Dll, TheBufferIsNeverOverrunAndIsCutAtAWholeCharacter)
{
    EXPECT_EQ(CAB_E_NO_COMMAND, m_cab(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(CAB_E_UNTERMINATED_QUOTE, m_cab(nullptr, "-a \"", nullptr, 0));
    for (DWORD size : {1u, 2u, 7u, 8u, 30u}) {
        char out[64];
        std::memset(out, 0x7E, sizeof(out));
        EXPECT_EQ(CAB_E_BAD_NAME, m_cab(nullptr, ("-a x.cab \"" + m_dir + "\" a|b.txt").c_str(), out, size));
        const size_t len = std::strlen(out);
        EXPECT_LT(len, size);
        for (size_t i = size; i < sizeof(out); ++i)
            ASSERT_EQ(0x7E, static_cast<unsigned char>(out[i])) << "size " << size;
        size_t i = 0; // the message is Japanese: the cut falls between whole characters
        while (i < len)
            i += IsDBCSLeadByte(static_cast<BYTE>(out[i])) ? 2 : 1;
        EXPECT_EQ(len, i) << "size " << size;
    }
}

// Listed files gone before they are read: the cabinet is made and put in
// place, the result is 37 and the output names each file on a line of its own
// (no box even with a window: the caller tells it). Names past the buffer are
// counted on a last line; no line is ever cut.
TEST_F(Dll, FilesGoneBeforeTheyAreReadAreNamedAndTheCabinetIsMade)
{
    Write("list.txt", "\"a.txt\"\r\n\"gone1.txt\"\r\n\"b.txt\"\r\n\"gone2.txt\"\r\n");
    HWND owner =
        CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr, nullptr, nullptr, nullptr);
    const std::string first = "キャビネットファイルを作成しましたが、格納できなかったファイルがあります: " + m_dir +
                              "out\\keep.cab (2ファイル)\r\n";
    const std::string named[] = {m_dir + "src\\gone1.txt (見つかりません)\r\n",
                                 m_dir + "src\\gone2.txt (見つかりません)\r\n"};
    for (DWORD size : {DWORD(1023), DWORD(first.size() + named[0].size() + 24), DWORD(first.size() + 20)}) {
        SCOPED_TRACE(size);
        Write("out\\keep.cab", "old");
        bool boxShown = false;
        std::thread watcher([&] {
            for (int i = 0; i < 50 && !boxShown; ++i, Sleep(20))
                if (HWND box = FindWindowA("#32770", nullptr); box && GetWindow(box, GW_OWNER) == owner) {
                    boxShown = true;
                    PostMessageA(box, WM_COMMAND, IDOK, 0);
                }
        });
        std::memset(m_out, 0x7E, sizeof(m_out));
        EXPECT_EQ(CAB_E_FILES_LEFT_OUT, m_cab(owner, m_command.c_str(), m_out, size));
        watcher.join();
        EXPECT_FALSE(boxShown);
        EXPECT_EQ("MSCF", Read("out\\keep.cab"));
        const std::string table = FileTable(ReadAll("out\\keep.cab"));
        EXPECT_TRUE(table.size() == 14 && table.substr(1, 6) + table.substr(8) == "a.txt|b.txt|") << table;
        std::string expected = first;
        size_t shown = 0;
        while (shown < 2 && expected.size() + named[shown].size() + (shown == 1 ? 0 : 22) < size)
            expected += named[shown++];
        if (shown < 2)
            expected += "ほか " + std::to_string(2 - shown) + " 個\r\n";
        EXPECT_EQ(expected, std::string(m_out));
        EXPECT_LT(std::strlen(m_out), size_t(size));
    }
    DestroyWindow(owner);
    EXPECT_EQ("keep.cab ", OutNames());
}

// A listing that gives short names for names the code page lacks: each file is
// stored under its true name, UTF-8 with the 0x80 attribute where the code page
// cannot hold it, as listed otherwise; one file listed twice is refused.
TEST_F(Dll, ShortNamesAreStoredUnderTheirTrueNames)
{
    const std::wstring src = ToWide(m_dir + "src\\");
    const struct
    {
        const wchar_t* name;
        const char* stored;
        int attribs;
    } files[] = {
        {L"caf\u00e9.md", "caf\xC3\xA9.md", 0xA0},
        {L"\u00dcber.txt",
         "\xC3\x9C"
         "ber.txt",
         0xA0},
        {L"smile\U0001F600.txt", "smile\xF0\x9F\x98\x80.txt", 0xA0},
        {L"\ud55c\uad6ddir\\x.txt",
         "\xED\x95\x9C\xEA\xB5\xAD"
         "dir\\x.txt",
         0xA0},
        {L"\u8868.txt", "表.txt", 0x20},
        {L"a~b.txt", "a~b.txt", 0x20},
    };
    CreateDirectoryW((src + L"\ud55c\uad6ddir").c_str(), nullptr);
    wchar_t shortSrc[MAX_PATH] = L"";
    ASSERT_NE(0u, GetShortPathNameW(src.c_str(), shortSrc, MAX_PATH));
    std::string list, expected;
    for (const auto& f : files) {
        HANDLE h = CreateFileW((src + f.name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE,
                               nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        CloseHandle(h);
        wchar_t shortPath[MAX_PATH] = L"";
        ASSERT_NE(0u, GetShortPathNameW((src + f.name).c_str(), shortPath, MAX_PATH));
        const std::string listed = FromWide(std::wstring(shortPath).substr(std::wstring(shortSrc).size()), CP_ACP);
        list += "\"" + listed + "\"\r\n";
        expected += std::string(1, static_cast<char>(f.attribs)) + f.stored + "|";
    }
    Write("list.txt", list);
    EXPECT_EQ(CAB_OK, Call(m_command)) << m_out;
    EXPECT_EQ(expected, FileTable(ReadAll("out\\keep.cab")));

    // The same file twice: by its short name in other letter case, by its long
    // name in other letter case, by a short and a long name.
    const std::string first = list.substr(0, list.find("\r\n") + 2);
    std::string lower = first;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const struct
    {
        std::string listing;
        const char* line;
    } twice[] = {
        {first + lower, "2行目"},
        {first + "\"a.txt\"\r\n\"A.TXT\"\r\n", "3行目"},
        {"\"b.txt\"\r\n\"a~b.txt\"\r\n" + first + "\"A~B.TXT\"\r\n", "4行目"},
    };
    for (const auto& t : twice) {
        Write("list.txt", t.listing);
        EXPECT_EQ(CAB_E_DUPLICATE_NAME, Call(m_command)) << m_out;
        EXPECT_NE(nullptr, std::strstr(m_out, t.line)) << m_out;
    }
    for (const auto& f : files)
        DeleteFileW((src + f.name).c_str());
    RemoveDirectoryW((src + L"\ud55c\uad6ddir").c_str());
}

TEST_F(Dll, NamesWindowsCannotCreateAndATargetThatIsAFolderAreRefusedWithTheirLine)
{
    const std::string rest = " \"" + m_dir + "src\\\" \"@" + m_dir + "list.txt\"";
    const struct
    {
        std::string target;
        const char* list;
        int code;
        const char* shown;
    } cases[] = {
        {m_dir + "out", "a.txt\r\n", CAB_E_TARGET_IS_FOLDER, "out"},
        {m_dir + "out\\", "a.txt\r\n", CAB_E_TARGET_IS_FOLDER, "out\\"},
        {m_dir + "out\\keep.cab", "a.txt\r\nsub\\AUX.txt\r\n", CAB_E_DEVICE_NAME, "sub\\AUX.txt ("},
        {m_dir + "out\\keep.cab", "\r\n\"a.txt.\"\r\n", CAB_E_TRAILING_DOT, "a.txt. ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target + " " + c.list);
        Write("list.txt", c.list);
        EXPECT_EQ(c.code, Call("-a \"" + c.target + "\"" + rest)) << m_out;
        EXPECT_NE(nullptr, std::strstr(m_out, c.shown)) << m_out;
        EXPECT_EQ(c.code == CAB_E_TARGET_IS_FOLDER, std::strstr(m_out, "2行目") == nullptr) << m_out;
        EXPECT_EQ("old", Read("out\\keep.cab"));
        EXPECT_EQ("keep.cab ", OutNames());
    }
}
