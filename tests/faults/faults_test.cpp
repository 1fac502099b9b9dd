// Faults injected into the real program, driven through its windows: a disk that fills up, a file held open,
// folders that vanish or lie past MAX_PATH, two copies at once. Each case checks the message and that nothing is lost.
#include "tests/support/test_support.h"
#include "tests/support/project_dat.h"
#include "tests/support/dialog_driver.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

typedef std::vector<std::string> Texts;
const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";

// True when unixFolder holds exactly names (sorted, separated by spaces).
bool Holds(const std::string& unixFolder, const std::string& names)
{
    return RunUnix("echo $(LC_ALL=C ls -A " + unixFolder + ") | grep -qxF '" + names + "'") == 0;
}

// A tmpfs under /tmp that really runs out of space. Mounting needs root; mounted is false where it is refused.
struct SmallDisk
{
    explicit SmallDisk(const char* size)
        : name("kv-faults-disk-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64())),
          root("/tmp/" + name), path("Z:\\tmp\\" + name + "\\")
    {
        mounted = RunUnix("mkdir -p " + root + " && mount -t tmpfs -o size=" + size + ",mode=0777 tmpfs " + root +
                          " 2>/dev/null || { rmdir " + root + "; exit 1; }") == 0;
    }
    // The lazy unmount detaches a disk that a file or library still holds.
    ~SmallDisk()
    {
        if (mounted)
            RunUnix("umount " + root + " 2>/dev/null || umount -l " + root + "; rmdir " + root);
    }
    // Takes every free block with a hidden file that no walk lists; true when none is left.
    bool Fill() const
    {
        return RunUnix("dd if=/dev/zero of=" + root + "/.filler bs=4096 2>/dev/null; test $(df --output=avail " + root +
                       " | tail -1) -eq 0") == 0;
    }
    std::string name, root, path; // the mount point's name, for Linux and for Wine (ending in a backslash)
    bool mounted = false;
};

// path held open with no sharing, as another program would, until Release.
struct FileLock
{
    explicit FileLock(const std::string& path)
        : file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {}
    ~FileLock() { Release(); }
    void Release()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    HANDLE file;
};

// A message box of the program: its window and its text.
struct Box
{
    HWND window = nullptr;
    std::string text;
};

// The next message box of copy; no window when none came within milliseconds (0: looks once).
Box NextBox(const ProgramDriver& copy, DWORD milliseconds = 10000)
{
    Box box;
    box.window = copy.WaitForBox(milliseconds);
    box.text = box.window ? TextOf(box.window, kMessageBoxText) : "";
    return box;
}

#define SKIP_UNLESS_MOUNTED(disk) \
    if (!(disk).mounted)          \
    GTEST_SKIP() << "a small tmpfs could not be mounted (mount needs root): the full-disk case was not run"
#define START(copy, folder) ASSERT_TRUE((copy).Start(folder)) << "the main dialog did not appear"

// A program folder with the program and a project on src, a source tree, and a folder holding an earlier cabinet.
class ProgramCase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ProgramDriver::Install(m_folder));
        ASSERT_EQ(0u, RunUnix("cd " + m_sources.UnixPath() +
                              " && mkdir -p src/sub && head -c 30000 /dev/urandom > "
                              "src/a.bin && echo text > src/sub/b.txt"));
        ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
        ASSERT_TRUE(WriteBytes(m_data.c_str(), ProjectFile("p")));
    }
    // The bytes of a project.dat that holds one project on src, selected.
    std::string ProjectFile(const std::string& name) const
    {
        return project_dat::File(1, 0, project_dat::Record(name, m_source));
    }
    // Runs a backup into cabinet and returns the texts of up to boxes boxes that follow, each answered OK.
    Texts RunBackup(ProgramDriver& copy, const std::string& cabinet, size_t boxes)
    {
        copy.Press(IDC_RUN_BACKUP, true);
        EXPECT_TRUE(copy.ChooseFile(cabinet)) << "the save dialog";
        Texts texts;
        for (Box box; texts.size() < boxes && (box = NextBox(copy)).window; copy.Answer(box.window, IDOK))
            texts.push_back(box.text);
        return texts;
    }
    // A run that fails: the archiver's reason naming culprit, then the program's outcome; the old cabinet stays.
    void ExpectFailedRun(ProgramDriver& copy, const std::string& cabinet, const std::string& culprit)
    {
        Texts texts = RunBackup(copy, cabinet, 2);
        ASSERT_EQ(2u, texts.size());
        EXPECT_NE(std::string::npos, texts[0].find(culprit)) << texts[0];
        EXPECT_EQ("キャビネットファイルの作成に失敗しました。", texts[1]);
        EXPECT_EQ("old cabinet", ReadBytes(cabinet.c_str()));
    }
    // Closes the copy; the texts of the boxes that follow, each answered OK, up to a retry question (kept in question).
    Texts Close(ProgramDriver& copy, Box* question = nullptr)
    {
        copy.Close();
        Texts texts;
        Box box;
        while (!copy.Exited(0) && texts.size() < 10 && (box = NextBox(copy, 3000)).window && box.text != kRetry) {
            texts.push_back(box.text);
            copy.Answer(box.window, IDOK);
        }
        if (question)
            *question = box;
        else
            EXPECT_TRUE(copy.Exited()) << "the program did not end: " << box.text;
        return texts;
    }
    // Answers the retry question Yes and expects the copy to end with project.dat at data holding name.
    void ExpectSavedOnYes(ProgramDriver& copy, const Box& question, const std::string& data, const std::string& name)
    {
        ASSERT_EQ(kRetry, question.text);
        copy.Answer(question.window, IDYES);
        EXPECT_TRUE(copy.Exited());
        EXPECT_EQ(ProjectFile(name), ReadBytes(data.c_str()));
        EXPECT_FALSE(AnyExists((data + ".*.tmp").c_str()));
    }

    TempDir m_program, m_sources, m_out;
    std::string m_folder = std::string(m_program.Path()), m_data = m_folder + "project.dat";
    std::string m_source = std::string(m_sources / "src"), m_cabinet = std::string(m_out / "backup.cab");
};

} // namespace

// The program folder on a full disk: respons.txt cannot be written, nor project.dat until space is freed.
TEST_F(ProgramCase, FullDiskWhileRespons_txtAndProjectDatAreWritten)
{
    SmallDisk disk("4m");
    SKIP_UNLESS_MOUNTED(disk);
    ASSERT_TRUE(ProgramDriver::Install(disk.path));
    std::string data = disk.path + "project.dat";
    ASSERT_TRUE(WriteBytes(data.c_str(), ProjectFile("before")));
    ProgramDriver copy;
    START(copy, disk.path);
    EXPECT_EQ("before", copy.Text(IDC_PROJECT_NAME));
    copy.SetText(IDC_PROJECT_NAME, "after");
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(Texts{"ファイルアクセス中にエラーが発生しました。"}, RunBackup(copy, m_cabinet, 1));
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_TRUE(Holds(m_out.UnixPath(), "backup.cab")) << "no part of a cabinet";
    Box question;
    EXPECT_EQ(Texts{}, Close(copy, &question));
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str())) << "the previous file survives";
    copy.Answer(question.window, IDYES);
    question = NextBox(copy);
    ASSERT_EQ(kRetry, question.text) << "Yes on a disk still full asks again";
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str()));
    EXPECT_FALSE(AnyExists((data + ".*.tmp").c_str()));
    RunUnix("rm -f " + disk.root + "/.filler");
    ExpectSavedOnYes(copy, question, data, "after");
}

// project.dat read-only, then held open: read (or not) silently, refused at close, saved once writable again.
TEST_F(ProgramCase, ProjectDatReadOnlyOrLockedIsKeptAndSavedOnceWritable)
{
    for (bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "held open" : "read-only");
        std::string before = ReadBytes(m_data.c_str()), after = locked ? "second" : "first";
        FileLock other(locked ? m_data : "");
        ASSERT_EQ(locked, other.file != INVALID_HANDLE_VALUE);
        ASSERT_TRUE(locked || SetFileAttributesA(m_data.c_str(), FILE_ATTRIBUTE_READONLY));
        ProgramDriver copy;
        START(copy, m_folder);
        EXPECT_EQ(locked ? kDefaultName : "p", copy.Text(IDC_PROJECT_NAME)) << "read only when it can be";
        EXPECT_EQ("", NextBox(copy, 0).text) << "and a file it cannot read is told to no one";
        copy.SetText(IDC_PROJECT_NAME, after);
        copy.SetText(IDC_SOURCE_FOLDER, m_source);
        Box question;
        EXPECT_EQ(Texts{kOpenFailed}, Close(copy, &question));
        other.Release();
        EXPECT_EQ(before, ReadBytes(m_data.c_str()));
        SetFileAttributesA(m_data.c_str(), FILE_ATTRIBUTE_NORMAL);
        ExpectSavedOnYes(copy, question, m_data, after);
    }
    EXPECT_EQ(ProjectFile("first"), ReadBytes((m_data + ".bak").c_str())) << "the projects it could not read";
}

// A program folder where project.dat can be written but nothing made beside it (a folder holds the name
// of the copy's temporary file): the hidden file is saved in place at the first close, and stays hidden.
TEST_F(ProgramCase, ProjectDatIsSavedInPlaceWhereNothingCanBeMadeBesideIt)
{
    ASSERT_TRUE(SetFileAttributesA(m_data.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ProgramDriver copy;
    START(copy, m_folder);
    std::string blocker = m_data + "." + std::to_string(copy.Pid()) + ".tmp";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    copy.SetText(IDC_PROJECT_NAME, "in place");
    EXPECT_EQ(Texts{}, Close(copy));
    EXPECT_EQ(ProjectFile("in place"), ReadBytes(m_data.c_str()));
    EXPECT_NE(0u, GetFileAttributesA(m_data.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    RemoveDirectoryA(blocker.c_str());
}

// A source file held open, then a full disk under the cabinet: the old cabinet stays, with no part of a new one.
TEST_F(ProgramCase, FailedRunKeepsTheOldCabinet)
{
    ProgramDriver copy;
    START(copy, m_folder);
    {
        FileLock other(m_source + "\\a.bin");
        ASSERT_NE(INVALID_HANDLE_VALUE, other.file);
        ExpectFailedRun(copy, m_cabinet, m_source + "\\a.bin");
        EXPECT_TRUE(Holds(m_out.UnixPath(), "backup.cab"));
    }
    SmallDisk disk("256k");
    SKIP_UNLESS_MOUNTED(disk);
    std::string cabinet = disk.path + "backup.cab";
    ASSERT_TRUE(WriteBytes(cabinet.c_str(), "old cabinet"));
    ASSERT_TRUE(disk.Fill());
    ExpectFailedRun(copy, cabinet, cabinet);
    EXPECT_TRUE(Holds(disk.root, ".filler backup.cab"));
    EXPECT_EQ(Texts{}, Close(copy));
}

// A folder that vanishes during the walk is named; the rest is archived, a file past MAX_PATH too.
TEST_F(ProgramCase, AVanishedFolderIsNamedAndTheRestIsArchived)
{
    std::string dir = m_sources.UnixPath(), src = dir + "/src", folder = m_program.UnixPath();
    std::string d(120, 'd'), e(120, 'e'), deep = m_source + "\\" + d + "\\" + e;
    WIN32_FIND_DATAA first;
    HANDLE search = INVALID_HANDLE_VALUE;
    ASSERT_EQ(0u, RunUnix("rm -rf " + src + " && mkdir -p " + src + "/pa " + src + "/qa " + src + "/" + d + "/" + e +
                          " && echo x > " + src + "/" + d + "/" + e + "/lost.c"));
    ASSERT_NE(INVALID_HANDLE_VALUE, search = FindFirstFileA((m_source + "\\?a").c_str(), &first));
    FindClose(search);
    // The listing's first folder gets many files, so that the walk is still in it when the other one goes.
    std::string walked = first.cFileName, vanishing = walked == "pa" ? "qa" : "pa";
    ASSERT_EQ(0u, RunUnix("cd " + src + " && seq -f " + walked +
                          "/file_with_a_long_name_%g.c 3000 | xargs touch && "
                          "echo x > " +
                          vanishing + "/late.c"));
    ProgramDriver copy;
    START(copy, m_folder);
    // Once the walk has written its first lines, a script stops the program, takes the folder that the walk
    // reaches second out of the tree and lets it go on. The bracket keeps grep from finding itself.
    std::string pattern = "[" + folder.substr(5, 1) + "]" + folder.substr(6) + "\\\\Kestelvarnholm.exe";
    ASSERT_TRUE(WriteBytes(m_sources / "remover.sh", "w=$(grep -s -l -a '" + pattern +
                                                         "' /proc/[0-9]*/cmdline | head -1 | cut -d/ -f3)\n"
                                                         ": > " +
                                                         dir +
                                                         "/ready\n"
                                                         "while [ ! -s " +
                                                         folder + "/respons.txt ] && [ -e " + dir +
                                                         "/ready ]; do :; done\n"
                                                         "[ -n \"$w\" ] && kill -STOP $w && mv " +
                                                         src + "/" + vanishing + " " + dir +
                                                         "/gone && echo moved; kill -CONT $w\n"));
    ASSERT_EQ(0u, RunUnix(" (timeout 60 dash " + dir + "/remover.sh > " + dir + "/out 2>&1; mv " + dir + "/out " + dir +
                          "/done) > /dev/null 2>&1 &"));
    ASSERT_TRUE(WaitFor([&] { return Exists(m_sources / "ready"); }));
    Texts texts = RunBackup(copy, m_cabinet, 2);
    EXPECT_TRUE(WaitFor([&] { return Exists(m_sources / "done"); }, 20000));
    EXPECT_EQ("moved\n", ReadBytes(m_sources / "done")) << "the program was found, stopped and the folder moved";
    ASSERT_EQ(2u, texts.size()) << "the outcome, then the unread folder: " << ::testing::PrintToString(texts);
    EXPECT_EQ("成功しました。", texts[0]);
    EXPECT_EQ("読み取れなかったフォルダが 1 個あり、その中のファイルはバックアップされていません。\n" + m_source +
                  "\\" + vanishing,
              texts[1]);
    std::string lines = ReadBytes(m_program / "respons.txt");
    EXPECT_EQ(std::string::npos, lines.find("late.c")) << "the walk outran the removal";
    EXPECT_NE(std::string::npos, lines.find("\"" + d + "\\" + e + "\\lost.c\"")) << "walked past MAX_PATH";
    EXPECT_NE(std::string::npos, lines.find("\"" + walked + "\\file_with_a_long_name_3000.c\""));
    EXPECT_EQ("MSCF", ReadBytes(m_cabinet.c_str()).substr(0, 4));

    // The source folder itself past MAX_PATH: told before the save dialog, and nothing is touched.
    ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
    copy.SetText(IDC_SOURCE_FOLDER, deep);
    copy.Press(IDC_RUN_BACKUP, true);
    Box box = NextBox(copy);
    EXPECT_EQ("ソースフォルダが存在しません。", box.text);
    copy.Answer(box.window, IDOK);
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_EQ(Texts{}, Close(copy));
}

// Where nothing can be made beside project.dat and the disk fills while it is overwritten in place, the old
// list is written back and the retry question comes; Yes, once there is room, saves the new one.
TEST_F(ProgramCase, AFullDiskWhileProjectDatIsOverwrittenInPlaceKeepsTheOldList)
{
    SmallDisk disk("4m");
    SKIP_UNLESS_MOUNTED(disk);
    ASSERT_TRUE(ProgramDriver::Install(disk.path));
    std::string data = disk.path + "project.dat";
    ASSERT_TRUE(WriteBytes(data.c_str(), ProjectFile("before")));
    ProgramDriver copy;
    START(copy, disk.path);
    std::string blocker = data + "." + std::to_string(copy.Pid()) + ".tmp";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    // More than the one page of the disk the file has: the write runs out of room part way.
    const std::string extensions(6000, 'x');
    copy.SetText(IDC_IGNORE_EXT, extensions);
    ASSERT_TRUE(disk.Fill());
    Box question;
    EXPECT_EQ(Texts{}, Close(copy, &question));
    ASSERT_EQ(kRetry, question.text);
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str())) << "the old list, not part of each";
    RunUnix("rm -f " + disk.root + "/.filler");
    copy.Answer(question.window, IDYES);
    EXPECT_TRUE(copy.Exited());
    EXPECT_NE(std::string::npos, ReadBytes(data.c_str()).find(extensions)) << "saved in place once there is room";
    RemoveDirectoryA(blocker.c_str());
}

// Two copies on one project.dat: the last to close decides; closing both at once leaves one whole list, no temp file.
TEST_F(ProgramCase, TwoCopiesAtOnce)
{
    for (int round = 0; round < 3; round++) {
        ProgramDriver first, second;
        START(first, m_folder);
        START(second, m_folder);
        first.SetText(IDC_PROJECT_NAME, "first");
        second.SetText(IDC_PROJECT_NAME, "second");
        if (round == 0) {
            EXPECT_EQ(Texts{}, Close(second));
            EXPECT_EQ(ProjectFile("second"), ReadBytes(m_data.c_str()));
            EXPECT_EQ(Texts{}, Close(first));
            EXPECT_EQ(ProjectFile("first"), ReadBytes(m_data.c_str()));
            continue;
        }
        first.Close();
        second.Close();
        // A copy that finds the file held by the other is told so and asked; Yes.
        for (int i = 0; i < 20 && !(first.Exited(0) && second.Exited(0)); i++)
            for (ProgramDriver* copy : {&first, &second}) {
                Box box = NextBox(*copy, 200);
                EXPECT_TRUE(!box.window || box.text == kOpenFailed || box.text == kRetry) << box.text;
                if (box.window)
                    copy->Answer(box.window, box.text == kRetry ? IDYES : IDOK);
            }
        EXPECT_TRUE(first.Exited() && second.Exited());
        std::string file = ReadBytes(m_data.c_str());
        EXPECT_TRUE(file == ProjectFile("first") || file == ProjectFile("second")) << ::testing::PrintToString(file);
        EXPECT_FALSE(AnyExists((m_data + ".*.tmp").c_str()));
    }
}

// A run in which some case was skipped, and none failed, ends with 77: ctest reports it as skipped.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    return result == 0 && ::testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? 77 : result;
}
