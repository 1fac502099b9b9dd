#include "backup/BackupJob.h"
#include "tests/support/test_support.h" // sets the multibyte code page

#include <gtest/gtest.h>

#include <string>

using testing_support::ReadBytes;
using testing_support::RunUnix;
using testing_support::TempDir;

// The items joined by '|'.
static std::string Joined(const CStringArray& array)
{
    std::string text;
    for (int i = 0; i < array.GetSize(); i++)
        text += (i ? "|" : "") + std::string(array[i]);
    return text;
}

TEST(IgnoreLists, SplittingAndMatching)
{
    struct
    {
        const char *text, *pieces;
    } splits[] = {{"", ""},    {"obj,h", "obj|h"}, {"a,,b", "a||b"},
                  {"a,", "a"}, {",a", "|a"},       {"表,ポ, x ", "表|ポ| x "}};
    for (const auto& s : splits) {
        CStringArray array;
        array.Add("left over");
        SplitList(array, s.text, ',');
        EXPECT_EQ(s.pieces, Joined(array)) << s.text;
    }

    Project project;
    BackupJob job;
    job.m_pProject = &project;
    project.ignoredExtensions = " obj , h,,\tc, d　,";
    project.ignoredFolders = " Debug , Release,,src\\Debug";
    job.PrepareIgnoreLists();
    EXPECT_EQ(".obj|.h|.|.\tc|.d　", Joined(job.m_arrIgnoreExt));
    EXPECT_EQ("Debug|Release||src\\Debug", Joined(job.m_arrIgnoreFolder));

    // Each name is checked against both settings, or against empty ones.
    struct
    {
        bool empty;
        const char* name;
        bool folder, included;
    } rules[] = {
        {false, "main.OBJ", false, false},
        {false, "x.h", false, false},
        {false, "a.C表", false, false},
        {false, "Makefile", false, true},
        {false, "x.lib", false, true},
        {false, "x.tar.gz", false, true},
        {false, "app.exe", false, true},
        {false, "x.hpp", false, true},
        {false, "表.c", false, true},
        {true, "a.obj", false, true},
        {false, "debug", true, false},
        {false, "RELEASE", true, false},
        {false, "表", true, false},
        {false, "Debug2", true, true},
        {false, "src", true, true},
        {false, "表示", true, true},
        {true, "Debug", true, true},
        // ア is 83 41 and ヂ is 83 61: trail bytes that differ only as ASCII letters differ in case.
        {false, "x.ア", false, false},
        {false, "x.ヂ", false, true},
        {false, "ア", true, false},
        {false, "ヂ", true, true},
    };
    for (const auto& r : rules) {
        project.ignoredExtensions = r.empty ? "" : "obj, h, .lib, tar.gz, *.exe, c表, ア";
        project.ignoredFolders = r.empty ? "" : "Debug, Release, src\\Debug, 表, ア";
        job.PrepareIgnoreLists();
        EXPECT_EQ(r.included, r.folder ? job.IsFolderIncluded(r.name) : job.IsFileIncluded(r.name)) << r.name;
    }
}

// Entries as the listing gives them (true name, short name, attributes): each
// becomes a line under the name the ANSI calls can open, or a note of what
// was left out. Wine always makes short names and shows no dangling link, so
// those cases are given here as Windows lists them.
TEST(Walk, EachEntryByItsNameAndKind)
{
    TempDir dir;
    ASSERT_EQ(0u, RunUnix("cd " + dir.UnixPath() +
                          " && touch a.txt there.txt CAFE~1.MD console.txt com0.c lpt10 && mkdir __DI~FGN && touch "
                          "__DI~FGN/y.txt"));
    CString folder = dir.Path();
    const DWORD file = FILE_ATTRIBUTE_ARCHIVE, link = FILE_ATTRIBUTE_REPARSE_POINT,
                directory = FILE_ATTRIBUTE_DIRECTORY;
    struct
    {
        const wchar_t *name, *shortName;
        DWORD attributes;
        const char *line, *lost, *links, *dangling;
        const char* reserved = ""; // left out: a name Windows cannot make
    } cases[] = {
        {L"a.txt", L"", file, "a.txt", "", "", ""},
        {L"caf\u00e9.md", L"CAFE~1.MD", file, "CAFE~1.MD", "", "", ""},
        {L"caf\u00e9.md", L"", file, "", "caf?.md", "", ""},
        {L"\u00dcber", L"", directory, "", "?ber", "", ""},
        {L"\ud55c\uad6d", L"__DI~FGN", directory, "__DI~FGN\\y.txt", "", "", ""},
        {L"\ud55c\uad6d", L"__DI~FGN", directory | link, "", "", "??", ""},
        {L"loop", L"", directory | link, "", "", "loop", ""},
        {L"there.txt", L"", file | link, "there.txt", "", "", ""},
        {L"gone.txt", L"", file | link, "", "", "", "gone.txt"},
        {L".hidden", L"", file, "", "", "", ""},
        {L"caf\u00e9.obj", L"", file, "", "", "", ""},
        {L"Debug", L"", directory | link, "", "", "", ""},
        {L"aux.txt", L"", file, "", "", "", "", "aux.txt"},
        {L"Com1.c", L"", file, "", "", "", "", "Com1.c"},
        {L"nul", L"", directory, "", "", "", "", "nul"},
        {L"con .tar.gz", L"", file, "", "", "", "", "con .tar.gz"},
        {L"trail.", L"", file, "", "", "", "", "trail."},
        {L"blank ", L"", directory, "", "", "", "", "blank "},
        {L"\u8868.", L"", file, "", "", "", "", "\x95\x5c."},
        {L"console.txt", L"", file, "console.txt", "", "", ""},
        {L"com0.c", L"", file, "com0.c", "", "", ""},
        {L"lpt10", L"", file, "lpt10", "", "", ""},
    };
    Project project;
    project.sourceFolder = folder.Left(folder.GetLength() - 1);
    project.ignoredExtensions = "obj";
    project.ignoredFolders = "debug";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)) + " " + std::to_string(c.attributes));
        BackupJob job;
        job.m_pProject = &project;
        job.PrepareIgnoreLists();
        WIN32_FIND_DATAW entry = {};
        entry.dwFileAttributes = c.attributes;
        lstrcpynW(entry.cFileName, c.name, MAX_PATH);
        lstrcpynW(entry.cAlternateFileName, c.shortName, 14);
        {
            CStdioFile out;
            ASSERT_TRUE(out.Open(dir / "out.txt", CFile::modeCreate | CFile::modeWrite));
            job.CollectEntry(&out, folder, entry);
        }
        std::string line = *c.line ? "\"" + std::string(c.line) + "\"\r\n" : "";
        EXPECT_EQ(line, ReadBytes(dir / "out.txt"));
        auto named = [&](const char* name) { return *name ? std::string(folder) + name : std::string(); };
        EXPECT_EQ(named(c.lost), Joined(job.m_arrLostNames));
        EXPECT_EQ(named(c.links), Joined(job.m_arrLinks));
        EXPECT_EQ(named(c.dangling), Joined(job.m_arrDanglingLinks));
        EXPECT_EQ(named(c.reserved), Joined(job.m_arrReservedNames));
        EXPECT_EQ("", Joined(job.m_arrSkippedFolders));
    }
}
