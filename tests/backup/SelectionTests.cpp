#include "backup/BackupJob.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace testing_support;

namespace {

// The items joined by '|'.
std::string Joined(const CStringArray& array)
{
    std::string text;
    for (int i = 0; i < array.GetSize(); i++)
        text += (i ? "|" : "") + std::string(array[i]);
    return text;
}

} // namespace

TEST(IgnoreLists, SplittingAndMatching)
{
    struct Split {
        const char* text;
        const char* pieces;
    } splits[] = {{"", ""}, {"obj,h", "obj|h"}, {"a,,b", "a||b"}, {"a,", "a"}, {",a", "|a"}, {"表,ポ, x ", "表|ポ| x "}};
    for (const Split& s : splits) {
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
    struct Rule {
        bool empty;
        const char* name;
        bool folder;
        bool included;
    } rules[] = {
        {false, "main.OBJ", false, false}, {false, "x.h", false, false},    {false, "a.C表", false, false},
        {false, "Makefile", false, true},  {false, "x.lib", false, true},   {false, "x.tar.gz", false, true},
        {false, "app.exe", false, true},   {false, "x.hpp", false, true},   {false, "表.c", false, true},
        {true, "a.obj", false, true},      {false, "debug", true, false},   {false, "RELEASE", true, false},
        {false, "表", true, false},        {false, "Debug2", true, true},   {false, "src", true, true},
        {false, "表示", true, true},       {true, "Debug", true, true},
    };
    for (const Rule& r : rules) {
        project.ignoredExtensions = r.empty ? "" : "obj, h, .lib, tar.gz, *.exe, c表";
        project.ignoredFolders = r.empty ? "" : "Debug, Release, src\\Debug, 表";
        job.PrepareIgnoreLists();
        EXPECT_EQ(r.included, r.folder ? job.IsFolderIncluded(r.name) : job.IsFileIncluded(r.name)) << r.name;
    }
}

// A tree with hidden, dot-named, double-byte (表 ends in byte 0x5C), over-long,
// ignored (any case, any depth) and unlistable entries, walked from a folder
// named with or without a trailing backslash.
TEST(Walk, ListsEveryKeptFileAndRecordsUnlistableFolders)
{
    TempDir dir;
    std::string s = dir.UnixPath() + "/src表", longFolder(150, 'P'), longFile = std::string(120, 'f') + ".txt";
    std::string listable(200, 'Q'), unlistable(40, 'R');
    ASSERT_EQ(0u, RunUnix("mkdir -p " + s + "/.git " + s + "/sub/Debug " + s + "/sub/表 " + s + "/DEBUG " + s + "/" +
                          longFolder + " " + s + "/" + listable + "/" + unlistable + " && cd " + s +
                          " && touch a.txt 表.txt hidden.txt main.OBJ Makefile .dotfile .git/config sub/util.h "
                          "sub/Debug/x.txt sub/表/中.txt DEBUG/y.txt " + longFolder + "/" + longFile + " " + listable +
                          "/q.txt " + listable + "/" + unlistable + "/lost.txt"));
    CString source = dir / "src表";
    ASSERT_TRUE(SetFileAttributesA(source + "\\hidden.txt", FILE_ATTRIBUTE_HIDDEN));
    std::vector<std::string> expected = {"\"a.txt\"", "\"表.txt\"", "\"hidden.txt\"", "\"Makefile\"", "\"sub\\util.h\"",
                                         "\"sub\\表\\中.txt\"", "\"" + longFolder + "\\" + longFile + "\"",
                                         "\"" + listable + "\\q.txt\""};
    std::sort(expected.begin(), expected.end());

    for (CString folder : {source, source + "\\"}) {
        Project project;
        project.sourceFolder = folder;
        project.ignoredExtensions = "obj";
        project.ignoredFolders = "debug";
        BackupJob job;
        job.m_pProject = &project;
        job.PrepareIgnoreLists();
        CStdioFile file;
        ASSERT_TRUE(file.Open(dir / "respons.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
        job.CollectFiles(&file, folder);
        file.Close();

        std::string text = ReadBytes(dir / "respons.txt");
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        EXPECT_EQ(text.size(), start) << "text after the last line end";
        // Depth first: the lines of a folder stand together.
        auto at = [&](const char* line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
        EXPECT_EQ(1, std::abs(at("\"sub\\util.h\"") - at("\"sub\\表\\中.txt\"")));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(expected, lines) << folder;
        EXPECT_EQ(std::string(source + "\\" + listable.c_str() + "\\" + unlistable.c_str()),
                  Joined(job.m_arrSkippedFolders));
    }
}
