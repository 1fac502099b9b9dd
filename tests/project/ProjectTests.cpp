#include "framework/CMemFile.h"
#include "project/ProgramFolder.h"
#include "project/Project.h"
#include "project/ProjectFile.h"
#include "tests/framework/TestSupport.h"
#include "tests/project/MemoryProjectList.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Bytes(const CMemFile& memory)
{
    return std::string(memory.GetData().begin(), memory.GetData().end());
}

std::string StoredProject(Project& project)
{
    CMemFile memory;
    CArchive ar(&memory, CArchive::store);
    project.Serialize(ar);
    ar.Close();
    return Bytes(memory);
}

const std::string kDefaultRecord("\x0A\x96\xBC\x8F\xCC\x96\xA2\x90\xDD\x92\xE8\0\0\0\0", 15);

std::string Magic()
{
    return "\x0E" "KESTELVARNHOLM";
}

std::string Int32(int value)
{
    unsigned int v = static_cast<unsigned int>(value);
    char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    return std::string(bytes, 4);
}

std::string Record(const std::string& name, const std::string& source = "")
{
    return std::string(1, static_cast<char>(name.size())) + name + std::string(1, static_cast<char>(source.size())) +
           source + std::string(3, '\0');
}

} // namespace

TEST(ProjectRecord, NewProjectIsStoredAsFifteenBytes)
{
    Project project;
    EXPECT_EQ(CString("名称未設定"), project.name);
    EXPECT_TRUE(project.sourceFolder.IsEmpty() && project.backupFolder.IsEmpty() &&
                project.ignoredExtensions.IsEmpty() && project.ignoredFolders.IsEmpty());
    EXPECT_EQ(kDefaultRecord, StoredProject(project));
}

TEST(ProjectRecord, RoundTripReplacesEveryFieldOfAUsedRecord)
{
    Project original;
    original.name = "表示テスト";
    original.sourceFolder = "C:\\ソース\\表";
    original.backupFolder = "D:\\Backup, old ";
    original.ignoredExtensions = "obj, h,,表";
    original.ignoredFolders = CString('f', 300);
    std::string bytes = StoredProject(original);

    Project used;
    used.name = "old";
    used.sourceFolder = "old source";
    used.backupFolder = "old backup";
    used.ignoredExtensions = "old ext";
    used.ignoredFolders = "old folders";
    CMemFile memory(bytes.data(), bytes.size());
    CArchive ar(&memory, CArchive::load);
    used.Serialize(ar);
    EXPECT_EQ(original.name, used.name);
    EXPECT_EQ(original.sourceFolder, used.sourceFolder);
    EXPECT_EQ(original.backupFolder, used.backupFolder);
    EXPECT_EQ(original.ignoredExtensions, used.ignoredExtensions);
    EXPECT_EQ(original.ignoredFolders, used.ignoredFolders);
    EXPECT_STREQ("obj, h,,表", used.GetIgnoredExtensions());
}

TEST(ProjectRecord, DataEndingInsideTheThirdStringKeepsTwoNewFields)
{
    std::string bytes = std::string("\x03new") + "\x03src" + "\x09" "abc";
    Project project;
    project.backupFolder = "kept?";
    CMemFile memory(bytes.data(), bytes.size());
    CArchive ar(&memory, CArchive::load);
    try {
        project.Serialize(ar);
        FAIL() << "no error";
    } catch (CArchiveException& e) {
        EXPECT_EQ(CArchiveException::endOfFile, e.m_cause);
    }
    EXPECT_EQ(CString("new"), project.name);
    EXPECT_EQ(CString("src"), project.sourceFolder);
}

TEST(ProjectFileLayout, WritesMagicCountSelectionAndRecords)
{
    MemoryProjectList list;
    list.Add("名称未設定");
    list.SetCurSel(0);
    CMemFile memory;
    CArchive ar(&memory, CArchive::store);
    WriteProjectFile(ar, list);
    ar.Close();
    std::string expected = Magic() + Int32(1) + Int32(0) + kDefaultRecord;
    EXPECT_EQ(38u, expected.size());
    EXPECT_EQ(expected, Bytes(memory));

    MemoryProjectList none;
    none.Add("a");
    none.Add("a");
    CMemFile second;
    CArchive ar2(&second, CArchive::store);
    WriteProjectFile(ar2, none);
    ar2.Close();
    EXPECT_EQ(Magic() + Int32(2) + Int32(-1) + Record("a") + Record("a"), Bytes(second));
}

TEST(ProjectFileLayout, ReadingEveryKindOfFile)
{
    struct Case {
        const char* what;
        std::string bytes;
        bool clean;
        std::vector<std::string> names;
        int selected;
    } cases[] = {
        {"two records, second selected", Magic() + Int32(2) + Int32(1) + Record("a", "C:\\a") + Record("表"), true,
         {"a", "表"}, 1},
        {"empty file", "", false, {}, -1},
        {"magic plus one character", "\x0F" "KESTELVARNHOLMX" + Int32(1) + Int32(0) + Record("a"), false, {}, -1},
        {"magic in lower case", "\x0E" "kestelvarnholm" + Int32(1) + Int32(0) + Record("a"), false, {}, -1},
        {"magic with a zero byte after it", std::string("\x0F" "KESTELVARNHOLM\0", 16) + Int32(1) + Int32(0) + Record("a"),
         false, {}, -1},
        {"ends inside the count", Magic() + "\x01\x00", false, {}, -1},
        {"ends inside the selection", Magic() + Int32(1) + "\x00", false, {}, -1},
        {"count 3, two whole records", Magic() + Int32(3) + Int32(0) + Record("a") + Record("b") + "\x05xy", false,
         {"a", "b"}, -1},
        {"count 0", Magic() + Int32(0) + Int32(0), true, {}, -1},
        {"count negative", Magic() + Int32(-5) + Int32(0) + Record("a"), true, {}, -1},
        {"selection names no entry", Magic() + Int32(2) + Int32(5) + Record("a") + Record("b"), true, {"a", "b"}, -1},
        {"bytes after the last record", Magic() + Int32(1) + Int32(0) + Record("a") + "trailing", true, {"a"}, 0},
        {"huge count", Magic() + Int32(0x7FFFFFFF) + Int32(0) + Record("a"), false, {"a"}, -1},
    };
    for (const Case& c : cases) {
        MemoryProjectList list;
        CMemFile memory(c.bytes.data(), c.bytes.size());
        CArchive ar(&memory, CArchive::load);
        EXPECT_EQ(c.clean, ReadProjectFile(ar, list)) << c.what;
        ASSERT_EQ(static_cast<int>(c.names.size()), list.GetCount()) << c.what;
        for (int i = 0; i < list.GetCount(); i++) {
            EXPECT_EQ(c.names[static_cast<size_t>(i)], list.Text(i)) << c.what;
            ASSERT_NE(nullptr, list.At(i)) << c.what;
            EXPECT_EQ(CString(c.names[static_cast<size_t>(i)].c_str()), list.At(i)->name) << c.what;
        }
        EXPECT_EQ(c.selected, list.GetCurSel()) << c.what;
    }
}

TEST(ProgramFolder, IsTheExecutablesFolderWithABackslash)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string expected(path);
    expected.erase(expected.rfind('\\') + 1);
    EXPECT_EQ(expected, std::string(GetProgramFolder()));
    EXPECT_EQ(GetProgramFolder(), GetProgramFolder());

    OverrideProgramFolder("Z:\\tmp\\elsewhere\\");
    EXPECT_EQ(CString("Z:\\tmp\\elsewhere\\"), GetProgramFolder());
    OverrideProgramFolder(nullptr);
    EXPECT_EQ(expected, std::string(GetProgramFolder()));
}
