// Paths given in UTF-16 and held in code page 932: exactly, by short names, or not at all, and never as
// another path (a best fit turns Über into Uber and ¥ into a backslash). On real folders under Wine, which
// gives every name that is not 8.3 a short name.
#include "framework/AfxCodePage.h"
#include "project/CodePagePath.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// The file-system object path names, by its full long path; empty when it names none.
std::wstring Target(const std::wstring& path)
{
    wchar_t full[1024] = L"", resolved[1024] = L"";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ||
        !GetFullPathNameW(path.c_str(), 1024, full, nullptr))
        return std::wstring();
    DWORD n = GetLongPathNameW(full, resolved, 1024);
    std::wstring target(resolved, n > 0 && n < 1024 ? n : 0);
    while (!target.empty() && target.back() == L'\\')
        target.pop_back();
    return target;
}

// What every held path must be: exact text for Exact; for ShortNames a text the code page holds that names
// the same object; for Lost a text with '?' that names nothing. Never a path to another object.
void ExpectHeldAsItSays(const std::wstring& given, const HeldPath& held)
{
    const std::wstring back = AfxFromCodePage(held.path);
    bool exact = false;
    AfxToCodePage(back, &exact);
    switch (held.hold) {
    case PathHold::Exact: EXPECT_EQ(given, back); break;
    case PathHold::ShortNames:
        EXPECT_TRUE(exact) << "held in the code page";
        EXPECT_NE(std::wstring(), Target(given));
        EXPECT_EQ(Target(given), Target(back)) << "the same object";
        break;
    case PathHold::Lost:
        EXPECT_NE(-1, held.path.Find('?'));
        EXPECT_EQ(std::wstring(), Target(back)) << "names nothing";
        break;
    }
    if (!Target(back).empty()) {
        EXPECT_EQ(Target(given), Target(back)) << "never another object";
    }
}

class CodePagePath : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_root = AfxFromCodePage(m_dir.Path());
        for (const wchar_t* dir :
             {L"\u00DCber", L"Uber", L"\u00DCber\\caf\u00E9", L"日本語", L"a\u301Cb", L"Long Folder Name"})
            ASSERT_TRUE(CreateDirectoryW((m_root + dir).c_str(), nullptr));
        ASSERT_TRUE(WriteBytes(AfxToCodePage(m_root + L"Uber\\x.txt"), "x"));
        HANDLE file =
            CreateFileW((m_root + L"\u00DCber\\\u00FC.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
    }

    TempDir m_dir;
    std::wstring m_root; // m_dir, ending in a backslash
};

std::wstring NoShortName(const std::wstring&)
{
    return std::wstring();
}

std::wstring ShortNameOutsideTheCodePage(const std::wstring&)
{
    return L"\u00DC~1";
}

// Each kind of path, with the lookups that stand for a volume without short names.
TEST_F(CodePagePath, HeldExactlyByShortNamesOrNotAtAll)
{
    const struct
    {
        const char* what;
        std::wstring path;
        PathHold hold;
        ShortNameLookup lookup;
    } cases[] = {
        {"ASCII, missing", m_root + L"plain\\x", PathHold::Exact, &FindShortName},
        {"double-byte", m_root + L"日本語", PathHold::Exact, &FindShortName},
        {"empty", L"", PathHold::Exact, &FindShortName},
        {"Uber, beside U-umlaut-ber", m_root + L"Uber\\x.txt", PathHold::Exact, &FindShortName},
        {"U-umlaut-ber", m_root + L"\u00DCber", PathHold::ShortNames, &FindShortName},
        {"U-umlaut-ber, any case", m_root + L"\u00FCBER\\", PathHold::ShortNames, &FindShortName},
        {"two short names", m_root + L"\u00DCber\\caf\u00E9", PathHold::ShortNames, &FindShortName},
        {"a file", m_root + L"\u00DCber\\\u00FC.txt", PathHold::ShortNames, &FindShortName},
        {"forward slashes", m_root + L"\u00DCber/caf\u00E9/", PathHold::ShortNames, &FindShortName},
        {"wave dash, best-fitted to another character", m_root + L"a\u301Cb", PathHold::ShortNames, &FindShortName},
        {"missing", m_root + L"\u00DCnknown", PathHold::Lost, &FindShortName},
        {"missing under U-umlaut-ber", m_root + L"\u00DCber\\\u00DCnknown", PathHold::Lost, &FindShortName},
        {"a pattern that matches U-umlaut-ber", m_root + L"\u00DCb?r", PathHold::Lost, &FindShortName},
        {"a star", m_root + L"\u00DC*", PathHold::Lost, &FindShortName},
        {"yen, best-fitted to a backslash", m_root + L"Uber\u00A5x.txt", PathHold::Lost, &FindShortName},
        {"a server's name", L"\\\\\u00DCber\\share\\x", PathHold::Lost, &FindShortName},
        {"no short names on the volume", m_root + L"\u00DCber", PathHold::Lost, &NoShortName},
        {"a short name outside the code page", m_root + L"\u00DCber", PathHold::Lost, &ShortNameOutsideTheCodePage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HeldPath held = HoldPath(c.path, c.lookup);
        EXPECT_EQ(static_cast<int>(c.hold), static_cast<int>(held.hold)) << held.path.GetString();
        ExpectHeldAsItSays(c.path, held);
    }
    EXPECT_EQ(std::string(AfxToCodePage(m_root) + "?ber\\?nknown"),
              std::string(HoldPath(m_root + L"\u00DCber\\\u00DCnknown").path))
        << "a lost path is the given one with '?' for what the code page lacks";
}

// A relative path is held relative; its short names are those of the current folder's entries.
TEST_F(CodePagePath, RelativePathsStayRelative)
{
    wchar_t previous[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_root.c_str()));
    HeldPath held = HoldPath(L"\u00DCber\\caf\u00E9");
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(static_cast<int>(PathHold::ShortNames), static_cast<int>(held.hold));
    EXPECT_EQ(-1, held.path.Find(':'));
    EXPECT_EQ(Target(m_root + L"\u00DCber\\caf\u00E9"), Target(m_root + AfxFromCodePage(held.path)));
}

// Random paths of the characters that make the conversion work hardest, half of them made as folders:
// each is held as HoldPath says, and never as another object.
TEST_F(CodePagePath, RandomPathsAreNeverHeldAsAnotherPath)
{
    const std::wstring alphabet[] = {L"a",      L"Z",      L"表",     L"ソ",     L"\u00DC", L"u",
                                     L"\u00E9", L"\uD55C", L"\u301C", L"\uFF5E", L"\u00A5", L"\uFF3C",
                                     L"\\",     L".",      L" ",      L"?",      L"~1",     L"\U0001F600"};
    std::mt19937 random(20);
    int made = 0, shortNames = 0;
    for (int i = 0; i < 300; ++i) {
        std::wstring name;
        for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n)
            name += alphabet[random() % (sizeof alphabet / sizeof *alphabet)];
        const std::wstring path = m_root + name;
        // Never a folder outside the scratch folder ("..").
        if (random() % 2 && name.find(L"?") == std::wstring::npos && name.find(L"..") == std::wstring::npos)
            made += CreateDirectoryW(path.c_str(), nullptr) ? 1 : 0;
        SCOPED_TRACE(FromWide(name, CP_UTF8));
        HeldPath held = HoldPath(path);
        shortNames += held.hold == PathHold::ShortNames;
        ExpectHeldAsItSays(path, held);
    }
    EXPECT_GT(made, 50);
    EXPECT_GT(shortNames, 20);
}

// A held path is shown by its long names where it uses short names for names the code page lacks, and as
// it is otherwise, short names the user gave included.
TEST_F(CodePagePath, ShownByTheLongNamesItStandsFor)
{
    const std::wstring ueber = m_root + L"\u00DCber\\caf\u00E9";
    wchar_t shortForm[MAX_PATH] = L"";
    ASSERT_NE(0u, GetShortPathNameW((m_root + L"Long Folder Name").c_str(), shortForm, MAX_PATH));
    const struct
    {
        CString held;
        std::wstring shown;
    } cases[] = {
        {HoldPath(ueber).path, ueber},
        {AfxToCodePage(m_root + L"日本語"), m_root + L"日本語"},
        {AfxToCodePage(shortForm), shortForm},
        {AfxToCodePage(m_root + L"missing~1"), m_root + L"missing~1"},
        {CString(), L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held.GetString());
        EXPECT_EQ(c.shown, ShownPath(c.held));
        EXPECT_EQ(c.held, HoldPath(ShownPath(c.held)).path) << "shown, it is held as it was";
    }
}

// The message names the path as given and what it was for.
TEST(PathNotHeld, TheMessageNamesThePathAndItsUse)
{
    const std::wstring path = L"C:\\\u00DCber\\\uD55C";
    const std::wstring rest =
        L"」は、この環境の文字コードで表せない文字を含み、短い名前 (8.3 形式) でも表せないため、使えません。";
    const struct
    {
        PathUse use;
        std::wstring text;
    } cases[] = {
        {PathUse::SourceFolder, L"ソースフォルダ「" + path + rest},
        {PathUse::BackupFolder, L"保存先フォルダ「" + path + rest + L"\n保存ダイアログは別のフォルダで開きます。"},
        {PathUse::ChosenFolder, L"フォルダ「" + path + rest},
        {PathUse::Cabinet, L"キャビネットファイル「" + path + rest},
        {PathUse::ProgramFolder,
         L"プログラムのフォルダ「" + path + rest +
             L"\nKestelvarnholm.exe と CAB32.dll は、この文字コードで表せる名前のフォルダに置いてください。"
             L"project.dat は読み書きしていません。"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, NotHeldMessage(c.use, path));
        MessageBoxRecorder boxes;
        TellPathNotHeld(c.use, path);
        ASSERT_EQ(1u, boxes.Boxes().size());
        EXPECT_EQ(c.text, boxes.Boxes()[0].wide);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), boxes.Boxes()[0].type);
    }
}

} // namespace
