#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "cab32/format/CabFormat.h"
#include "cab32/win32/Win32Files.h"

namespace {

// A scratch tree of real files under the temporary folder, removed afterwards.
class ListedTree : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        m_dir = std::string(tmp) + "cab32_listed_" + std::to_string(GetCurrentProcessId()) + "\\";
        for (const char* sub : {"", "sub", "sub\\deep"})
            CreateDirectoryA((m_dir + sub).c_str(), nullptr);
        for (const char* name :
             {"a.txt", "b.txt", "ro.txt", "a long name.text", "sub\\x.txt", "sub\\deep\\y.txt", "sub\\z.txt"})
            Write(name, std::string(100 + std::string(name).size() * 37, 'q'));
        SetFileAttributesA((m_dir + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    }

    void TearDown() override
    {
        SetFileAttributesA((m_dir + "ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const char* name : {"a.txt", "b.txt", "ro.txt", "a long name.text", "late.txt", "sub\\x.txt",
                                 "sub\\deep\\y.txt", "sub\\z.txt"})
            DeleteFileA((m_dir + name).c_str());
        for (const char* sub : {"sub\\deep", "sub", ""})
            RemoveDirectoryA((m_dir + sub).c_str());
    }

    void Write(const std::string& name, const std::string& data)
    {
        HANDLE h = CreateFileA((m_dir + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD n = 0;
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
        FILETIME t = {0x12345678, 0x01D9A000 + static_cast<DWORD>(name.size())};
        SetFileTime(h, nullptr, nullptr, &t);
        CloseHandle(h);
    }

    std::string m_dir;
};

// Names in the order a walk lists them (a folder's files before and after its
// subfolders), a name in other letter case, a short name, a folder, a missing
// name and a file made after its folder was listed: each answer from the
// listings is the answer a lookup by path gives.
TEST_F(ListedTree, ListingsAnswerAsLookupsByPath)
{
    char shortPath[MAX_PATH] = "";
    ASSERT_NE(0u, GetShortPathNameA((m_dir + "a long name.text").c_str(), shortPath, MAX_PATH));
    const std::string shortName = std::string(shortPath).substr(std::string(shortPath).rfind('\\') + 1);
    ASSERT_NE("a long name.text", shortName);
    cab32::Win32Files listed, byPath;
    const std::string names[] = {"a.txt",     "sub\\x.txt",  "sub\\deep\\y.txt", "sub\\z.txt",
                                 "B.TXT",     "ro.txt",      "a long name.text", shortName,
                                 "sub\\deep", "missing.txt", "late.txt",         "sub\\x.txt"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        if (name == "late.txt")
            Write(name, "made after the listing");
        cab32::SourceInfo a, b;
        const uint32_t errA = listed.StatListed(m_dir + name, a);
        const uint32_t errB = byPath.Stat(m_dir + name, b);
        EXPECT_EQ(errB, errA);
        if (errA != 0 || errB != 0)
            continue;
        EXPECT_EQ(b.size, a.size);
        EXPECT_EQ(b.attribs, a.attribs);
        EXPECT_EQ(b.isFolder, a.isFolder);
        EXPECT_EQ(b.dosDate, a.dosDate);
        EXPECT_EQ(b.dosTime, a.dosTime);
    }
    cab32::SourceInfo ro;
    ASSERT_EQ(0u, listed.StatListed(m_dir + "ro.txt", ro));
    EXPECT_EQ(cab32::kAttrReadOnly | cab32::kAttrHidden, ro.attribs & (cab32::kAttrReadOnly | cab32::kAttrHidden));
}

} // namespace
