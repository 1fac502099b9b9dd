// Files in motion under the real program: CAB32.dll is the test build that
// changes one file at a set moment (motion_cab32.cpp), so each case goes the
// same way every time. For each, what the user is told and what cabextract
// gets back: every stored file is byte-equal to a version that existed whole
// on disk, or the warning after the outcome names it.
#include "tests/support/test_support.h"
#include "tests/support/project_dat.h"
#include "tests/support/dialog_driver.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kMovedGroup[] = "バックアップ中に変更または削除されたファイルが 1 個あり、バックアップされていません。\n";

// The program with the archiver's test build, in folder.
bool InstallWithMotion(const std::string& folder)
{
    char self[MAX_PATH] = "";
    std::string bin(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    bin.resize(bin.rfind('\\') + 1);
    return ProgramDriver::Install(folder) &&
           CopyFileA((bin + "CAB32_motion.dll").c_str(), (folder + "CAB32.dll").c_str(), FALSE);
}

// Runs a backup of the program's one project into cabinet; the texts of the boxes that follow, each answered OK.
std::vector<std::string> RunBackup(const std::string& folder, const std::string& cabinet)
{
    std::vector<std::string> texts;
    ProgramDriver copy;
    if (!copy.Start(folder))
        return {"<the main dialog did not appear>"};
    copy.Press(IDC_RUN_BACKUP, true);
    if (!copy.ChooseFile(cabinet))
        return {"<no save dialog>"};
    for (HWND box; (box = copy.WaitForBox(texts.empty() ? 30000 : 2000)) != nullptr && texts.size() < 3;) {
        texts.push_back(TextOf(box, kMessageBoxText));
        copy.Answer(box, IDOK);
    }
    copy.Close();
    EXPECT_TRUE(copy.Exited());
    return texts;
}

} // namespace

TEST(FilesInMotion, EachFileIsStoredAsOneWholeVersionOrNamed)
{
    TempDir program, sources, out;
    const std::string folder(program.Path()), source(sources / "src"), cabinet(out / "backup.cab");
    ASSERT_TRUE(InstallWithMotion(folder));
    ASSERT_TRUE(WriteBytes(program / "project.dat", project_dat::File(1, 0, project_dat::Record("p", source))));
    const std::string bs150k(150000, 'B'), bs1000(1000, 'B');
    const DWORD mib = 1024 * 1024;
    const struct
    {
        const char* what;
        const char* kind;
        const char* file;   // small.txt (100,000 'A's), big.bin (2 MiB of 'A's) or empty.txt
        DWORD bytes;        // of 'B's the change writes
        std::string stored; // what cabextract gives back for file; "<absent>" when left out
        const char* reason; // in the warning, when it names the file
    } cases[] = {
        {"an editor's atomic save between the listing and the read", "atomic", "small.txt", 150000, bs150k, nullptr},
        {"a same-size rewrite while it is read", "rewrite", "big.bin", 2 * mib, "<absent>",
         "読み込み中に変更されました"},
        {"truncated and written again while it is read", "truncate", "big.bin", mib, "<absent>",
         "読み込み中に変更されました"},
        {"appended to while it is read", "append", "big.bin", 1000, "<absent>", "読み込み中に変更されました"},
        {"deleted after the walk", "gone", "small.txt", 0, "<absent>", "見つかりません"},
        {"deleted between the listing and the read", "vanish", "small.txt", 0, "<absent>", "見つかりません"},
        {"listed empty, then written", "fill", "empty.txt", 1000, bs1000, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string src = sources.UnixPath() + "/src";
        ASSERT_EQ(0u, RunUnix("rm -rf " + src + " " + out.UnixPath() + "/* && mkdir -p " + src + "/sub && cd " + src +
                              " && head -c 30000 /dev/urandom > a.bin && echo text > sub/b.txt && touch empty.txt"
                              " && head -c 100000 /dev/zero | tr '\\000' A > small.txt"
                              " && head -c 2097152 /dev/zero | tr '\\000' A > big.bin"));
        const std::string path = source + "\\" + c.file;
        SetEnvironmentVariableA("KV_MOTION",
                                (std::string(c.kind) + "|" + path + "|" + std::to_string(c.bytes)).c_str());
        std::vector<std::string> texts = RunBackup(folder, cabinet);
        SetEnvironmentVariableA("KV_MOTION", nullptr);
        std::vector<std::string> expected = {"成功しました。"};
        if (c.reason)
            expected.push_back(kMovedGroup + path + " (" + c.reason + ")");
        EXPECT_EQ(expected, texts);

        ASSERT_EQ(0u, RunUnix("cd " + out.UnixPath() + " && cabextract -q -d x backup.cab"));
        // The others as they are on disk; the file in motion as expected.
        for (std::string name : {"a.bin", "sub\\b.txt", "small.txt", "big.bin", "empty.txt"}) {
            const std::string stored = ReadBytes((std::string(out / "x\\") + name).c_str());
            const std::string want = name == c.file ? c.stored : ReadBytes((source + "\\" + name).c_str());
            EXPECT_TRUE(stored == (want == "<absent>" ? "<missing>" : want))
                << name << ": " << stored.size() << " bytes";
        }
    }
}
