// Faults injected into the real program, driven from this process through its
// windows: each case ends with the program's message and checks that nothing
// on disk was lost.
#include "tests/faults/FaultSupport.h"
#include "tests/faults/ProgramDriver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace faults;
using testing_support::AnyExists;
using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

namespace {

typedef std::vector<std::string> Texts;

const char kDefaultName[] = "名称未設定";
const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";
const char kAccessError[] = "ファイルアクセス中にエラーが発生しました。";
const char kCabinetFailed[] = "キャビネットファイルの作成に失敗しました。";
const char kSucceeded[] = "成功しました。";
const char kSourceMissing[] = "ソースフォルダが存在しません。";
const char kUnlisted[] = "読み取れなかったフォルダが";

#define SKIP_UNLESS_MOUNTED(disk) \
    if (!(disk).Mounted())        \
    GTEST_SKIP() << "a small tmpfs could not be mounted (mount needs root): the full-disk case was not run"

#define START(copy, folder) ASSERT_TRUE((copy).Start(folder)) << "the main dialog did not appear"

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// A program folder with the program in it, a source tree and a folder for
// cabinets holding an earlier cabinet.
class ProgramCase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ProgramCopy::Install(std::string(m_program.Path())));
        m_source = std::string(m_sources / "src");
        ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/sub && head -c 30000 /dev/urandom > " +
                              m_sources.UnixPath() + "/src/a.bin && echo text > " + m_sources.UnixPath() +
                              "/src/sub/b.txt"));
        m_cabinet = std::string(m_out / "backup.cab");
        ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
    }

    std::string ProgramFolder() const { return std::string(m_program.Path()); }
    std::string DataPath() const { return ProgramFolder() + "project.dat"; }

    // Presses the run button, chooses cabinet in the save dialog, and returns
    // the texts of the boxes that follow, each answered with OK.
    Texts RunBackup(ProgramCopy& copy, const std::string& cabinet, size_t boxes)
    {
        copy.Press(kRunBackup);
        EXPECT_TRUE(copy.ChooseFile(cabinet)) << "the save dialog";
        Texts texts;
        for (size_t i = 0; i < boxes; i++) {
            Box box = copy.WaitForBox();
            if (!box.window)
                break;
            texts.push_back(box.text);
            copy.Answer(box, IDOK);
        }
        return texts;
    }

    // Closes the copy, answering the boxes that come with OK or Yes, and
    // returns their texts.
    Texts CloseAndAnswer(ProgramCopy& copy)
    {
        copy.Close();
        Texts texts;
        while (!copy.WaitForExit(0) && texts.size() < 10) {
            Box box = copy.WaitForBox(3000);
            if (!box.window)
                break;
            texts.push_back(box.text);
            copy.Answer(box, box.text == kRetry ? IDYES : IDOK);
        }
        EXPECT_TRUE(copy.WaitForExit()) << "the program did not end";
        return texts;
    }

    TempDir m_program;
    TempDir m_sources;
    TempDir m_out;
    std::string m_source;
    std::string m_cabinet;
};

} // namespace

TEST_F(ProgramCase, FullDiskWhileProjectDatIsSavedKeepsTheOldFileUntilYesAfterSpaceIsFreed)
{
    SmallDisk disk("4m");
    SKIP_UNLESS_MOUNTED(disk);
    ASSERT_TRUE(ProgramCopy::Install(disk.Path()));
    std::string data = disk.Path() + "project.dat";
    ASSERT_TRUE(WriteBytes(data.c_str(), ProjectFile("before")));

    ProgramCopy copy;
    START(copy, disk.Path());
    EXPECT_EQ("before", copy.Text(kProjectName));
    copy.SetText(kProjectName, "after");
    ASSERT_TRUE(disk.Fill());
    copy.Close();

    Box question = copy.WaitForBox();
    ASSERT_EQ(kRetry, question.text);
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str())) << "the previous file survives";
    // Yes with the disk still full fails again and asks again.
    copy.Answer(question, IDYES);
    question = copy.WaitForBox();
    ASSERT_EQ(kRetry, question.text);
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str()));
    EXPECT_FALSE(AnyExists((data + ".*.tmp").c_str()));
    disk.Free();
    copy.Answer(question, IDYES);
    EXPECT_TRUE(copy.WaitForExit());
    EXPECT_EQ(ProjectFile("after"), ReadBytes(data.c_str()));
    EXPECT_FALSE(AnyExists((data + ".*.tmp").c_str()));
}

TEST_F(ProgramCase, ReadOnlyProjectDatIsReadAtStartAndLeftAsItWasAtCloseUntilWritable)
{
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("before")));
    ASSERT_TRUE(SetFileAttributesA(DataPath().c_str(), FILE_ATTRIBUTE_READONLY));
    ProgramCopy copy;
    START(copy, ProgramFolder());
    EXPECT_EQ("before", copy.Text(kProjectName));
    EXPECT_EQ("", copy.WaitForBox(0).text) << "a read-only file reads without a word";
    copy.SetText(kProjectName, "after");
    copy.Close();

    Box failed = copy.WaitForBox();
    EXPECT_EQ(kOpenFailed, failed.text);
    copy.Answer(failed, IDOK);
    Box question = copy.WaitForBox();
    ASSERT_EQ(kRetry, question.text);
    EXPECT_EQ(ProjectFile("before"), ReadBytes(DataPath().c_str()));
    SetFileAttributesA(DataPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    copy.Answer(question, IDYES);
    EXPECT_TRUE(copy.WaitForExit());
    EXPECT_EQ(ProjectFile("after"), ReadBytes(DataPath().c_str()));
}

TEST_F(ProgramCase, ProjectDatLockedAtStartAndAtCloseIsKeptAndSavedOnceReleased)
{
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("mine")));
    FileLock other{DataPath()};
    ASSERT_TRUE(other.Held());
    ProgramCopy copy;
    START(copy, ProgramFolder());
    EXPECT_EQ(kDefaultName, copy.Text(kProjectName)) << "the file could not be read";
    EXPECT_EQ("", copy.WaitForBox(0).text) << "and that is told to no one";
    copy.SetText(kProjectName, "new");
    copy.Close();

    Box failed = copy.WaitForBox();
    EXPECT_EQ(kOpenFailed, failed.text);
    copy.Answer(failed, IDOK);
    Box question = copy.WaitForBox();
    ASSERT_EQ(kRetry, question.text);
    other.Release();
    copy.Answer(question, IDYES);
    EXPECT_TRUE(copy.WaitForExit());
    EXPECT_EQ(ProjectFile("new"), ReadBytes(DataPath().c_str()));
    EXPECT_EQ(ProjectFile("mine"), ReadBytes((DataPath() + ".bak").c_str())) << "the projects it could not read";
}

TEST_F(ProgramCase, FullDiskWhileTheCabinetIsWrittenLeavesNoPartOfItAndKeepsTheOldOne)
{
    SmallDisk disk("256k");
    SKIP_UNLESS_MOUNTED(disk);
    std::string cabinet = disk.Path() + "backup.cab";
    ASSERT_TRUE(WriteBytes(cabinet.c_str(), "old cabinet"));
    ASSERT_TRUE(disk.Fill());
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("p", m_source)));

    ProgramCopy copy;
    START(copy, ProgramFolder());
    // The archiver tells the reason first (the cabinet and the full disk), then the program its outcome.
    Texts texts = RunBackup(copy, cabinet, 2);
    ASSERT_EQ(2u, texts.size());
    EXPECT_NE(std::string::npos, texts[0].find(cabinet)) << texts[0];
    EXPECT_EQ(kCabinetFailed, texts[1]);
    EXPECT_EQ("old cabinet", ReadBytes(cabinet.c_str()));
    EXPECT_EQ((Texts{".filler", "backup.cab"}), Names(disk.Path()));
    EXPECT_EQ(Texts{}, CloseAndAnswer(copy));
}

TEST_F(ProgramCase, FullDiskWhileRespons_txtIsWrittenStopsTheRunAndTheSaveRetriesAfterSpaceIsFreed)
{
    SmallDisk disk("4m");
    SKIP_UNLESS_MOUNTED(disk);
    ASSERT_TRUE(ProgramCopy::Install(disk.Path()));
    std::string data = disk.Path() + "project.dat";
    ASSERT_TRUE(WriteBytes(data.c_str(), ProjectFile("p", m_source)));

    ProgramCopy copy;
    START(copy, disk.Path());
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(Texts{kAccessError}, RunBackup(copy, m_cabinet, 1));
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_EQ(Texts{"backup.cab"}, Names(std::string(m_out.Path())));

    copy.Close();
    Box question = copy.WaitForBox();
    ASSERT_EQ(kRetry, question.text);
    EXPECT_EQ(ProjectFile("p", m_source), ReadBytes(data.c_str()));
    disk.Free();
    copy.Answer(question, IDYES);
    EXPECT_TRUE(copy.WaitForExit());
    EXPECT_EQ(ProjectFile("p", m_source), ReadBytes(data.c_str()));
}

TEST_F(ProgramCase, SourceFileLockedByAnotherProgramFailsTheRunAndKeepsTheOldCabinet)
{
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("p", m_source)));
    FileLock other{m_source + "\\a.bin"};
    ASSERT_TRUE(other.Held());
    ProgramCopy copy;
    START(copy, ProgramFolder());
    // The archiver names the locked file first, then the program tells its outcome.
    Texts texts = RunBackup(copy, m_cabinet, 2);
    ASSERT_EQ(2u, texts.size());
    EXPECT_NE(std::string::npos, texts[0].find(m_source + "\\a.bin")) << texts[0];
    EXPECT_EQ(kCabinetFailed, texts[1]);
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_EQ(Texts{"backup.cab"}, Names(std::string(m_out.Path())));
    EXPECT_EQ(Texts{}, CloseAndAnswer(copy));
}

// As soon as the walk has written its first lines, a Linux process takes the
// folder that the walk reaches second out of the tree, in one step (a rename).
// The program runs at the lowest priority meanwhile, so that a busy machine
// cannot let the walk outrun the removal.
TEST_F(ProgramCase, SourceFolderThatVanishesDuringTheWalkIsNamedAndTheRestIsArchived)
{
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("p", m_source)));
    ProgramCopy copy;
    START(copy, ProgramFolder());
    std::string src = m_sources.UnixPath() + "/src";
    ASSERT_EQ(0u, RunUnix("rm -rf " + src + " && mkdir " + src));
    VanishingTree tree = MakeVanishingTree(src, m_source, 3000);
    ASSERT_FALSE(tree.vanishing.empty());

    std::string folder = m_program.UnixPath();
    std::string pattern = "[" + folder.substr(5, 1) + "]" + folder.substr(6) + "\\\\Kestelvarnholm.exe";
    std::string response = folder + "/respons.txt";
    UnixScript remover("walker=$(grep -l -a '" + pattern + "' /proc/[0-9]*/cmdline | head -1 | cut -d/ -f3)\n"
                       "nice() { for t in /proc/$walker/task/*; do renice -n $1 -p ${t##*/}; done > /dev/null 2>&1; }\n"
                       "[ -n \"$walker\" ] && nice 19\n"
                       ": > " + folder + "/ready\n"
                       "timeout 60 dash -c 'while [ ! -s " + response + " ] && [ ! -e '$stop' ]; do :; done' &&\n"
                       "[ ! -e $stop ] &&\n"
                       "mv " + src + "/" + tree.vanishing + " " + m_sources.UnixPath() + "/gone && echo moved\n"
                       "[ -n \"$walker\" ] && nice 0; echo $walker\n");
    for (int waited = 0; waited < 10000 && !Exists(m_program / "ready"); waited += 2)
        Sleep(2);
    Texts texts = RunBackup(copy, m_cabinet, 2);
    std::string removal = remover.Wait(20000);
    EXPECT_TRUE(StartsWith(removal, "moved\n")) << removal;
    EXPECT_GT(removal.size(), 7u) << "the program's process was not found";

    ASSERT_EQ(2u, texts.size()) << "the outcome, then the folders that could not be read: "
                                << ::testing::PrintToString(texts);
    EXPECT_EQ(kSucceeded, texts[0]);
    EXPECT_TRUE(StartsWith(texts[1], kUnlisted));
    EXPECT_NE(std::string::npos, texts[1].find(m_source + "\\" + tree.vanishing));
    std::string lines = ReadBytes(m_program / "respons.txt");
    EXPECT_EQ(std::string::npos, lines.find("late.c")) << "the walk outran the removal";
    EXPECT_NE(std::string::npos, lines.find("\"" + tree.walkedFirst + "\\file_with_a_long_name_3000.c\""));
    EXPECT_TRUE(StartsWith(ReadBytes(m_cabinet.c_str()), "MSCF"));
    EXPECT_EQ(Texts{}, CloseAndAnswer(copy));
}

TEST_F(ProgramCase, FoldersPastMaxPathAreToldAndNothingIsTouched)
{
    std::string d(120, 'd'), e(120, 'e');
    ASSERT_EQ(0u, RunUnix("mkdir -p " + m_sources.UnixPath() + "/src/" + d + "/" + e + " && echo x > " +
                          m_sources.UnixPath() + "/src/" + d + "/" + e + "/lost.c"));
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("p", m_source)));
    ProgramCopy copy;
    START(copy, ProgramFolder());

    // A subfolder past MAX_PATH: the rest is archived, and the folder is named.
    Texts texts = RunBackup(copy, m_cabinet, 2);
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ(kSucceeded, texts[0]);
    EXPECT_TRUE(StartsWith(texts[1], kUnlisted));
    EXPECT_NE(std::string::npos, texts[1].find(m_source + "\\" + d + "\\" + e));
    EXPECT_TRUE(StartsWith(ReadBytes(m_cabinet.c_str()), "MSCF"));

    // The source folder itself past MAX_PATH: told before the save dialog.
    ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
    copy.SetText(kSourceFolder, m_source + "\\" + d + "\\" + e);
    copy.Press(kRunBackup);
    Box box = copy.WaitForBox();
    EXPECT_EQ(kSourceMissing, box.text);
    copy.Answer(box, IDOK);
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_EQ(Texts{}, CloseAndAnswer(copy));
}

// Two copies on one project.dat: the one that closes last decides the file,
// and closing both at once leaves one whole list, never a mix or a part.
TEST_F(ProgramCase, TwoCopiesAtOnce)
{
    ASSERT_TRUE(WriteBytes(DataPath().c_str(), ProjectFile("start")));
    {
        ProgramCopy first, second;
        START(first, ProgramFolder());
        START(second, ProgramFolder());
        first.SetText(kProjectName, "first");
        second.SetText(kProjectName, "second");
        EXPECT_EQ(Texts{}, CloseAndAnswer(second));
        EXPECT_EQ(ProjectFile("second"), ReadBytes(DataPath().c_str()));
        EXPECT_EQ(Texts{}, CloseAndAnswer(first));
        EXPECT_EQ(ProjectFile("first"), ReadBytes(DataPath().c_str()));
    }
    for (int round = 0; round < 2; round++) {
        ProgramCopy first, second;
        START(first, ProgramFolder());
        START(second, ProgramFolder());
        first.SetText(kProjectName, "first");
        second.SetText(kProjectName, "second");
        first.Close();
        second.Close();
        // A copy that finds the file held by the other is told so and asked; Yes.
        for (int i = 0; i < 20 && !(first.WaitForExit(0) && second.WaitForExit(0)); i++) {
            for (ProgramCopy* copy : {&first, &second}) {
                Box box = copy->WaitForBox(200);
                if (box.window) {
                    EXPECT_TRUE(box.text == kOpenFailed || box.text == kRetry) << box.text;
                    copy->Answer(box, box.text == kRetry ? IDYES : IDOK);
                }
            }
        }
        EXPECT_TRUE(first.WaitForExit() && second.WaitForExit());
        std::string file = ReadBytes(DataPath().c_str());
        EXPECT_TRUE(file == ProjectFile("first") || file == ProjectFile("second")) << ::testing::PrintToString(file);
        EXPECT_FALSE(AnyExists((DataPath() + ".*.tmp").c_str()));
    }
}
