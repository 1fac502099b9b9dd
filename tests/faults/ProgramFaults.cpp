// Faults injected into the real program, driven through its windows: a disk that fills up, a file held open,
// folders that vanish or lie past MAX_PATH, two copies at once. Each case checks the message and that nothing is lost.
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

typedef std::vector<std::string> Texts;
const char kMainCaption[] = "Kestelvarnholm Ver.1.00";
const int kProjectName = 1010, kSourceFolder = 1002, kRunBackup = 1005, kFileNameCombo = 0x47C, kMessageText = 0xFFFF;
const char kDefaultName[] = "名称未設定";
const char kOpenFailed[] = "ファイルのオープンに失敗しました。";
const char kRetry[] = "データの保存に失敗しました。\n再トライしますか？";

// Polls done() every 10 ms for up to milliseconds.
template <class Done> bool Poll(Done done, DWORD milliseconds = 10000)
{
    for (DWORD waited = 0; !done(); waited += 10) {
        if (waited >= milliseconds)
            return false;
        Sleep(10);
    }
    return true;
}

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
        : file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~FileLock() { Release(); }
    void Release()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
    HANDLE file;
};

// A message box or dialog of the program: its window and its text.
struct Box
{
    HWND window = nullptr;
    std::string text;
};

// One copy of the real program, driven through its windows as a user would.
class ProgramCopy
{
public:
    ~ProgramCopy()
    {
        if (m_process && TerminateProcess(m_process, 1))
            WaitForSingleObject(m_process, 5000);
        CloseHandle(m_process);
    }
    // Copies the program and its archiver from beside this test program into folder (ending in a backslash).
    static bool Install(const std::string& folder)
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string bin(path, strrchr(path, '\\') + 1);
        return CopyFileA((bin + "Kestelvarnholm.exe").c_str(), (folder + "Kestelvarnholm.exe").c_str(), FALSE) &&
               CopyFileA((bin + "CAB32.dll").c_str(), (folder + "CAB32.dll").c_str(), FALSE);
    }
    // Starts the copy in folder; true once its main dialog is shown and idle.
    bool Start(const std::string& folder)
    {
        std::string line = "\"" + folder + "Kestelvarnholm.exe\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
            return false;
        CloseHandle(process.hThread);
        m_process = process.hProcess;
        m_pid = process.dwProcessId;
        Poll([&] { return (m_dialog = Find([](HWND w) { return Text(w) == kMainCaption; })) || Ended(); }, 15000);
        return m_dialog && WaitForInputIdle(m_process, 5000) != WAIT_FAILED;
    }
    // Replaces an edit field's text; the dialog hears of it (EN_CHANGE) before this returns.
    void SetText(int id, const std::string& text) { Send(GetDlgItem(m_dialog, id), WM_SETTEXT, text.c_str()); }
    std::string Text(int id) const { return Text(GetDlgItem(m_dialog, id)); }
    DWORD Pid() const { return m_pid; }
    // Posted, since the button may open a modal window.
    void Press(int id) { PostMessageA(m_dialog, WM_COMMAND, id, (LPARAM)GetDlgItem(m_dialog, id)); }
    void Close() { PostMessageA(m_dialog, WM_COMMAND, IDCANCEL, 0); }
    bool WaitForExit(DWORD milliseconds = 10000) { return Poll([&] { return Ended(); }, milliseconds); }
    // The next message box; no window when none came within milliseconds (0: looks once).
    Box WaitForBox(DWORD milliseconds = 10000)
    {
        Box box;
        Poll([&] {
            box.window = Find([](HWND w) { return GetDlgItem(w, kMessageText) && !GetDlgItem(w, kFileNameCombo); });
            return box.window || Ended();
        }, milliseconds);
        box.text = box.window ? Text(GetDlgItem(box.window, kMessageText)) : "";
        return box;
    }
    // Presses IDOK, IDYES or IDNO in a box or dialog and waits until it has gone.
    static bool Answer(const Box& box, int id)
    {
        PostMessageA(box.window, WM_COMMAND, id, 0);
        return Poll([&] { return !IsWindow(box.window); }, 5000);
    }
    // Types path as the file name into the save dialog and accepts it.
    bool ChooseFile(const std::string& path)
    {
        Box dialog;
        Poll([&] { return (dialog.window = Find([](HWND w) { return GetDlgItem(w, kFileNameCombo) != nullptr; })); });
        HWND combo = GetDlgItem(dialog.window, kFileNameCombo), edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        Send(edit ? edit : combo, WM_SETTEXT, path.c_str());
        return dialog.window && Answer(dialog, IDOK);
    }

private:
    static void Send(HWND window, UINT message, const char* text, WPARAM size = 0)
    {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, message, size, (LPARAM)text, SMTO_NORMAL, 5000, &result);
    }
    static std::string Text(HWND window)
    {
        char text[2048] = "";
        Send(window, WM_GETTEXT, text, sizeof(text));
        return text;
    }
    // A visible dialog or message box of this copy, other than its main dialog, that match accepts.
    HWND Find(bool (*match)(HWND)) const
    {
        DWORD pid = 0;
        for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr;)
            if (GetWindowThreadProcessId(w, &pid) && pid == m_pid && w != m_dialog && IsWindowVisible(w) && match(w))
                return w;
        return nullptr;
    }
    bool Ended() const { return WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
    HWND m_dialog = nullptr;
};

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
        ASSERT_TRUE(ProgramCopy::Install(m_folder));
        ASSERT_EQ(0u, RunUnix("cd " + m_sources.UnixPath() + " && mkdir -p src/sub && head -c 30000 /dev/urandom > "
                              "src/a.bin && echo text > src/sub/b.txt"));
        ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
        ASSERT_TRUE(WriteBytes(m_data.c_str(), ProjectFile("p")));
    }
    // The bytes of a project.dat that holds one project on src, selected.
    std::string ProjectFile(const std::string& name) const
    {
        std::string file = std::string("\x0E" "KESTELVARNHOLM") + std::string("\x01\0\0\0\0\0\0\0", 8);
        for (const std::string& text : {name, m_source})
            file += std::string(1, static_cast<char>(text.size())) + text;
        return file + std::string(3, '\0');
    }
    // Runs a backup into cabinet and returns the texts of up to boxes boxes that follow, each answered OK.
    Texts RunBackup(ProgramCopy& copy, const std::string& cabinet, size_t boxes)
    {
        copy.Press(kRunBackup);
        EXPECT_TRUE(copy.ChooseFile(cabinet)) << "the save dialog";
        Texts texts;
        for (Box box; texts.size() < boxes && (box = copy.WaitForBox()).window; copy.Answer(box, IDOK))
            texts.push_back(box.text);
        return texts;
    }
    // A run that fails: the archiver's reason naming culprit, then the program's outcome; the old cabinet stays.
    void ExpectFailedRun(ProgramCopy& copy, const std::string& cabinet, const std::string& culprit)
    {
        Texts texts = RunBackup(copy, cabinet, 2);
        ASSERT_EQ(2u, texts.size());
        EXPECT_NE(std::string::npos, texts[0].find(culprit)) << texts[0];
        EXPECT_EQ("キャビネットファイルの作成に失敗しました。", texts[1]);
        EXPECT_EQ("old cabinet", ReadBytes(cabinet.c_str()));
    }
    // Closes the copy; the texts of the boxes that follow, each answered OK, up to a retry question (kept in question).
    Texts Close(ProgramCopy& copy, Box* question = nullptr)
    {
        copy.Close();
        Texts texts;
        Box box;
        while (!copy.WaitForExit(0) && texts.size() < 10 && (box = copy.WaitForBox(3000)).window && box.text != kRetry) {
            texts.push_back(box.text);
            copy.Answer(box, IDOK);
        }
        if (question)
            *question = box;
        else
            EXPECT_TRUE(copy.WaitForExit()) << "the program did not end: " << box.text;
        return texts;
    }
    // Answers the retry question Yes and expects the copy to end with project.dat at data holding name.
    void ExpectSavedOnYes(ProgramCopy& copy, const Box& question, const std::string& data, const std::string& name)
    {
        ASSERT_EQ(kRetry, question.text);
        copy.Answer(question, IDYES);
        EXPECT_TRUE(copy.WaitForExit());
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
    ASSERT_TRUE(ProgramCopy::Install(disk.path));
    std::string data = disk.path + "project.dat";
    ASSERT_TRUE(WriteBytes(data.c_str(), ProjectFile("before")));
    ProgramCopy copy;
    START(copy, disk.path);
    EXPECT_EQ("before", copy.Text(kProjectName));
    copy.SetText(kProjectName, "after");
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(Texts{"ファイルアクセス中にエラーが発生しました。"}, RunBackup(copy, m_cabinet, 1));
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_TRUE(Holds(m_out.UnixPath(), "backup.cab")) << "no part of a cabinet";
    Box question;
    EXPECT_EQ(Texts{}, Close(copy, &question));
    EXPECT_EQ(ProjectFile("before"), ReadBytes(data.c_str())) << "the previous file survives";
    copy.Answer(question, IDYES);
    question = copy.WaitForBox();
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
        ProgramCopy copy;
        START(copy, m_folder);
        EXPECT_EQ(locked ? kDefaultName : "p", copy.Text(kProjectName)) << "read only when it can be";
        EXPECT_EQ("", copy.WaitForBox(0).text) << "and a file it cannot read is told to no one";
        copy.SetText(kProjectName, after);
        copy.SetText(kSourceFolder, m_source);
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
    ProgramCopy copy;
    START(copy, m_folder);
    std::string blocker = m_data + "." + std::to_string(copy.Pid()) + ".tmp";
    ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), nullptr));
    copy.SetText(kProjectName, "in place");
    EXPECT_EQ(Texts{}, Close(copy));
    EXPECT_EQ(ProjectFile("in place"), ReadBytes(m_data.c_str()));
    EXPECT_NE(0u, GetFileAttributesA(m_data.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    RemoveDirectoryA(blocker.c_str());
}

// A source file held open, then a full disk under the cabinet: the old cabinet stays, with no part of a new one.
TEST_F(ProgramCase, FailedRunKeepsTheOldCabinet)
{
    ProgramCopy copy;
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

// A folder that vanishes during the walk and one past MAX_PATH are named; the rest is archived.
TEST_F(ProgramCase, UnreadableFoldersAreNamedAndTheRestIsArchived)
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
    ASSERT_EQ(0u, RunUnix("cd " + src + " && seq -f " + walked + "/file_with_a_long_name_%g.c 3000 | xargs touch && "
                          "echo x > " + vanishing + "/late.c"));
    ProgramCopy copy;
    START(copy, m_folder);
    // Once the walk has written its first lines, a script stops the program, takes the folder that the walk
    // reaches second out of the tree and lets it go on. The bracket keeps grep from finding itself.
    std::string pattern = "[" + folder.substr(5, 1) + "]" + folder.substr(6) + "\\\\Kestelvarnholm.exe";
    ASSERT_TRUE(WriteBytes(m_sources / "remover.sh",
                           "w=$(grep -s -l -a '" + pattern + "' /proc/[0-9]*/cmdline | head -1 | cut -d/ -f3)\n"
                           ": > " + dir + "/ready\n"
                           "while [ ! -s " + folder + "/respons.txt ] && [ -e " + dir + "/ready ]; do :; done\n"
                           "[ -n \"$w\" ] && kill -STOP $w && mv " + src + "/" + vanishing + " " + dir +
                           "/gone && echo moved; kill -CONT $w\n"));
    ASSERT_EQ(0u, RunUnix(" (timeout 60 dash " + dir + "/remover.sh > " + dir + "/out 2>&1; mv " + dir + "/out " + dir +
                          "/done) > /dev/null 2>&1 &"));
    ASSERT_TRUE(Poll([&] { return Exists(m_sources / "ready"); }));
    Texts texts = RunBackup(copy, m_cabinet, 2);
    EXPECT_TRUE(Poll([&] { return Exists(m_sources / "done"); }, 20000));
    EXPECT_EQ("moved\n", ReadBytes(m_sources / "done")) << "the program was found, stopped and the folder moved";
    ASSERT_EQ(2u, texts.size()) << "the outcome, then the unread folders: " << ::testing::PrintToString(texts);
    EXPECT_EQ("成功しました。", texts[0]);
    EXPECT_EQ(0u, texts[1].find("読み取れなかったフォルダが")) << texts[1];
    EXPECT_NE(std::string::npos, texts[1].find(m_source + "\\" + vanishing)) << "it vanished";
    EXPECT_NE(std::string::npos, texts[1].find(deep)) << "its subfolder lies past MAX_PATH";
    std::string lines = ReadBytes(m_program / "respons.txt");
    EXPECT_EQ(std::string::npos, lines.find("late.c")) << "the walk outran the removal";
    EXPECT_NE(std::string::npos, lines.find("\"" + walked + "\\file_with_a_long_name_3000.c\""));
    EXPECT_EQ("MSCF", ReadBytes(m_cabinet.c_str()).substr(0, 4));

    // The source folder itself past MAX_PATH: told before the save dialog, and nothing is touched.
    ASSERT_TRUE(WriteBytes(m_cabinet.c_str(), "old cabinet"));
    copy.SetText(kSourceFolder, deep);
    copy.Press(kRunBackup);
    Box box = copy.WaitForBox();
    EXPECT_EQ("ソースフォルダが存在しません。", box.text);
    copy.Answer(box, IDOK);
    EXPECT_EQ("old cabinet", ReadBytes(m_cabinet.c_str()));
    EXPECT_EQ(Texts{}, Close(copy));
}

// Two copies on one project.dat: the last to close decides; closing both at once leaves one whole list, no temp file.
TEST_F(ProgramCase, TwoCopiesAtOnce)
{
    for (int round = 0; round < 3; round++) {
        ProgramCopy first, second;
        START(first, m_folder);
        START(second, m_folder);
        first.SetText(kProjectName, "first");
        second.SetText(kProjectName, "second");
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
        for (int i = 0; i < 20 && !(first.WaitForExit(0) && second.WaitForExit(0)); i++)
            for (ProgramCopy* copy : {&first, &second}) {
                Box box = copy->WaitForBox(200);
                EXPECT_TRUE(!box.window || box.text == kOpenFailed || box.text == kRetry) << box.text;
                if (box.window)
                    copy->Answer(box, box.text == kRetry ? IDYES : IDOK);
            }
        EXPECT_TRUE(first.WaitForExit() && second.WaitForExit());
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
