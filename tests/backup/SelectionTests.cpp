#include "backup/BackupJob.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

std::vector<std::string> Items(const CStringArray& array)
{
    std::vector<std::string> items;
    for (int i = 0; i < array.GetSize(); i++)
        items.push_back(std::string(array[i]));
    return items;
}

std::vector<std::string> Split(LPCSTR text)
{
    CStringArray array;
    array.Add("left over");
    SplitList(array, text, ',');
    return Items(array);
}

typedef std::vector<std::string> Lines;

} // namespace

TEST(SplitList, PiecesBetweenCommas)
{
    EXPECT_EQ(Lines{}, Split(""));
    EXPECT_EQ(Lines{"c"}, Split("c"));
    EXPECT_EQ((Lines{"obj", "h"}), Split("obj,h"));
    EXPECT_EQ((Lines{"a", "", "b"}), Split("a,,b"));
    EXPECT_EQ((Lines{"a"}), Split("a,"));
    EXPECT_EQ((Lines{"", "a"}), Split(",a"));
    EXPECT_EQ((Lines{"表", "ポ", " x "}), Split("表,ポ, x "));
}

TEST(AddBackslash, AppendsOnlyWhenNeeded)
{
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {{"", ""}, {"C:\\Work", "C:\\Work\\"}, {"C:\\Work\\", "C:\\Work\\"}, {"C:\\表", "C:\\表\\"},
                 {"C:\\表\\", "C:\\表\\"}};
    for (const Case& c : cases) {
        CString path(c.path);
        AddBackslash(path);
        EXPECT_EQ(CString(c.expected), path) << c.path;
    }
}

TEST(IgnoreLists, PreparedFromTheProjectsSettings)
{
    Project project;
    project.ignoredExtensions = " obj , h,,\tc, d　,";
    project.ignoredFolders = " Debug , Release,,src\\Debug";
    BackupJob job;
    job.m_pProject = &project;
    job.PrepareIgnoreLists();
    EXPECT_EQ((Lines{".obj", ".h", ".", ".\tc", ".d　"}), Items(job.m_arrIgnoreExt));
    EXPECT_EQ((Lines{"Debug", "Release", "", "src\\Debug"}), Items(job.m_arrIgnoreFolder));
    // Preparing again starts from empty lists.
    project.ignoredExtensions = "";
    project.ignoredFolders = "x";
    job.PrepareIgnoreLists();
    EXPECT_EQ(Lines{}, Items(job.m_arrIgnoreExt));
    EXPECT_EQ(Lines{"x"}, Items(job.m_arrIgnoreFolder));
}

TEST(IgnoreLists, WhichFilesAndFoldersAreLeftOut)
{
    Project project;
    project.ignoredExtensions = "obj, h, .lib, tar.gz, *.exe, c表";
    project.ignoredFolders = "Debug, Release, src\\Debug, 表";
    BackupJob job;
    job.m_pProject = &project;
    job.PrepareIgnoreLists();

    EXPECT_FALSE(job.IsFileIncluded("main.OBJ"));
    EXPECT_FALSE(job.IsFileIncluded("x.h"));
    EXPECT_FALSE(job.IsFileIncluded("a.C表"));
    EXPECT_TRUE(job.IsFileIncluded("Makefile"));
    EXPECT_TRUE(job.IsFileIncluded("x.lib"));
    EXPECT_TRUE(job.IsFileIncluded("x.tar.gz"));
    EXPECT_TRUE(job.IsFileIncluded("app.exe"));
    EXPECT_TRUE(job.IsFileIncluded("x.hpp"));
    EXPECT_TRUE(job.IsFileIncluded("表.c"));

    EXPECT_FALSE(job.IsFolderIncluded("debug"));
    EXPECT_FALSE(job.IsFolderIncluded("RELEASE"));
    EXPECT_FALSE(job.IsFolderIncluded("表"));
    EXPECT_TRUE(job.IsFolderIncluded("Debug2"));
    EXPECT_TRUE(job.IsFolderIncluded("src"));
    EXPECT_TRUE(job.IsFolderIncluded("表示"));
}

TEST(IgnoreLists, EmptySettingsLeaveNothingOut)
{
    Project project;
    BackupJob job;
    job.m_pProject = &project;
    job.PrepareIgnoreLists();
    EXPECT_TRUE(job.IsFileIncluded("a.obj"));
    EXPECT_TRUE(job.IsFileIncluded("noext"));
    EXPECT_TRUE(job.IsFolderIncluded("Debug"));
}

namespace {

// A source tree on the Linux side:
//   a.txt  表.txt  hidden.txt (hidden)  main.OBJ  Makefile  .dotfile  .git\config
//   sub\util.h  sub\Debug\x.txt  sub\表\中.txt  DEBUG\y.txt
//   PPP...(150)\fff...(120).txt   (a full path past MAX_PATH)
//   QQQ...(200)\q.txt  QQQ...(200)\RRR...(40)\lost.txt   (the last folder cannot be listed)
class Walk : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_source = m_dir / "src";
        std::string s = m_dir.UnixPath() + "/src";
        m_longFolder = std::string(150, 'P');
        m_longFile = std::string(120, 'f') + ".txt";
        m_listable = std::string(200, 'Q');
        m_unlistable = std::string(40, 'R');
        std::string script = "mkdir -p " + s + "/.git " + s + "/sub/Debug " + s + "/sub/表 " + s + "/DEBUG " + s + "/" +
                             m_longFolder + " " + s + "/" + m_listable + "/" + m_unlistable + " && cd " + s +
                             " && touch a.txt 表.txt hidden.txt main.OBJ Makefile .dotfile .git/config sub/util.h "
                             "sub/Debug/x.txt sub/表/中.txt DEBUG/y.txt " +
                             m_longFolder + "/" + m_longFile + " " + m_listable + "/q.txt " + m_listable + "/" +
                             m_unlistable + "/lost.txt";
        ASSERT_EQ(0u, RunUnix(script));
        SetFileAttributesA(m_source + "\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
        m_project.sourceFolder = m_source;
        m_project.ignoredExtensions = "obj";
        m_project.ignoredFolders = "debug";
    }

    std::string Collect(LPCSTR sourceFolder, BackupJob& job)
    {
        m_project.sourceFolder = sourceFolder;
        job.m_pProject = &m_project;
        job.PrepareIgnoreLists();
        CStdioFile file;
        EXPECT_TRUE(file.Open(m_dir / "respons.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
        job.CollectFiles(&file, sourceFolder);
        file.Close();
        return ReadBytes(m_dir / "respons.txt");
    }

    static Lines SplitLines(const std::string& text)
    {
        Lines lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end + 2 - start));
        EXPECT_EQ(start, text.size()) << "text after the last line end";
        return lines;
    }

    TempDir m_dir;
    CString m_source;
    Project m_project;
    std::string m_longFolder, m_longFile, m_listable, m_unlistable;
};

} // namespace

TEST_F(Walk, WritesOneQuotedRelativePathPerKeptFile)
{
    BackupJob job;
    std::string text = Collect(m_source, job);
    Lines lines = SplitLines(text);
    Lines sorted = lines;
    std::sort(sorted.begin(), sorted.end());
    Lines expected = {
        "\"a.txt\"\r\n",
        "\"表.txt\"\r\n",
        "\"hidden.txt\"\r\n",
        "\"Makefile\"\r\n",
        "\"sub\\util.h\"\r\n",
        "\"sub\\表\\中.txt\"\r\n",
        "\"" + m_longFolder + "\\" + m_longFile + "\"\r\n",
        "\"" + m_listable + "\\q.txt\"\r\n",
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, sorted);

    // Depth first: the lines of a folder stand together.
    auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("\"sub\\", 0) == 0; });
    ASSERT_NE(lines.end(), first);
    EXPECT_EQ(0, first[1].rfind("\"sub\\", 0));

    EXPECT_EQ(Lines{std::string(m_source + "\\" + m_listable.c_str() + "\\" + m_unlistable.c_str())},
              Items(job.m_arrSkippedFolders));
}

TEST_F(Walk, SourceFolderWithOrWithoutBackslashGivesTheSameFile)
{
    BackupJob without, with;
    std::string a = Collect(m_source, without);
    std::string b = Collect(m_source + "\\", with);
    EXPECT_EQ(a, b);
    EXPECT_EQ(Items(without.m_arrSkippedFolders).size(), Items(with.m_arrSkippedFolders).size());
}

TEST_F(Walk, IgnoredExtensionsAndFoldersLeaveOnlyTheRest)
{
    m_project.ignoredExtensions = "txt,obj,h,";
    m_project.ignoredFolders = m_listable.c_str();
    BackupJob job;
    job.m_pProject = &m_project;
    job.PrepareIgnoreLists();
    CStdioFile file;
    ASSERT_TRUE(file.Open(m_dir / "respons.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    job.CollectFiles(&file, m_source);
    file.Close();
    EXPECT_EQ("\"Makefile\"\r\n", ReadBytes(m_dir / "respons.txt"));
    EXPECT_TRUE(job.m_arrSkippedFolders.IsEmpty());
}

TEST_F(Walk, MissingSourceFolderIsSkippedQuietlyAndRecorded)
{
    BackupJob job;
    EXPECT_EQ("", Collect(m_dir / "nowhere", job));
    EXPECT_EQ(Lines{std::string(m_dir / "nowhere")}, Items(job.m_arrSkippedFolders));
}
