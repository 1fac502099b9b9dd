// A folder that vanishes between the listing of its parent and the walk's
// arrival, made certain in process: the response file takes the folder away
// while the walk writes its first line. The program case does the same with a
// Linux process racing the real program.
#include "backup/BackupJob.h"
#include "tests/faults/FaultSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace faults;
using testing_support::ReadBytes;
using testing_support::TempDir;

namespace {

// The response file that takes a folder away while the walk writes its first
// line, and then goes on as the real one.
class VanishingResponse : public CStdioFile
{
public:
    explicit VanishingResponse(std::string command) : m_command(std::move(command)) {}
    void WriteString(LPCSTR text) override
    {
        if (!m_command.empty())
            RunUnix(m_command);
        m_command.clear();
        CStdioFile::WriteString(text);
    }

private:
    std::string m_command;
};

class InProcessWalk : public ::testing::Test
{
protected:
    void SetUp() override { m_project.sourceFolder = m_sources / "src"; }

    TempDir m_program;
    TempDir m_sources;
    Project m_project;
};

} // namespace

TEST_F(InProcessWalk, SourceFolderThatVanishesDuringTheWalkIsSkippedAndRecorded)
{
    std::string src = m_sources.UnixPath() + "/src";
    ASSERT_EQ(0u, RunUnix("rm -rf " + src + " && mkdir " + src));
    VanishingTree tree = MakeVanishingTree(src, std::string(m_project.sourceFolder), 50);
    ASSERT_FALSE(tree.vanishing.empty());
    VanishingResponse response("mv " + src + "/" + tree.vanishing + " " + m_sources.UnixPath() + "/gone");
    ASSERT_TRUE(response.Open(m_program / "respons.txt", CFile::modeCreate | CFile::modeWrite));

    BackupJob job;
    job.m_pProject = &m_project;
    job.PrepareIgnoreLists();
    job.CollectFiles(&response, m_project.sourceFolder);
    response.Close();

    ASSERT_EQ(1, job.m_arrSkippedFolders.GetSize());
    EXPECT_EQ(m_project.sourceFolder + "\\" + tree.vanishing.c_str(), job.m_arrSkippedFolders[0]);
    std::string lines = ReadBytes(m_program / "respons.txt");
    EXPECT_EQ(std::string::npos, lines.find("late.c"));
    EXPECT_NE(std::string::npos, lines.find("\"" + tree.walkedFirst + "\\file_with_a_long_name_50.c\""));
}
