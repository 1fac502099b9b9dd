// The pinned cabinets through CAB32.dll, called as the program calls it, on
// the tree written to real files (dated 2001-02-03 04:05:06 local time, with
// the archive attribute alone, as the in-memory file system describes them).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cab32/Cab32.h"
#include "tests/support/cab32_binding.h"
#include "tests/support/pinned_cabinets.h"

namespace {

class PinnedDll : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cab = BindCab32(m_dll);
        ASSERT_NE(nullptr, m_cab);
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        m_dir = std::string(tmp) + "cab32_pinned_" + std::to_string(GetCurrentProcessId()) + "\\";
        for (const char* sub : {"", "tree", "out"})
            MakeFolder(sub);
        for (const pinned::TreeFile& f : pinned::Tree())
            ASSERT_TRUE(WriteDated("tree\\" + f.first, f.second)) << f.first;
        ASSERT_TRUE(WriteDated("tree\\respons.txt", pinned::ResponseFile(pinned::Tree())));
    }

    void TearDown() override
    {
        for (auto it = m_made.rbegin(); it != m_made.rend(); ++it)
            DeleteFileA(it->c_str()) || RemoveDirectoryA(it->c_str());
        FreeLibrary(m_dll);
    }

    void MakeFolder(const std::string& name)
    {
        if (CreateDirectoryA((m_dir + name).c_str(), nullptr))
            m_made.push_back(m_dir + name);
    }

    // Writes name (its folders made first), dated and with the archive attribute alone.
    bool WriteDated(const std::string& name, const std::string& data)
    {
        for (size_t i = 0; i < name.size(); ++i) {
            if (IsDBCSLeadByte(static_cast<BYTE>(name[i])))
                ++i;
            else if (name[i] == '\\')
                MakeFolder(name.substr(0, i));
        }
        const std::string path = m_dir + name;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        m_made.push_back(path);
        DWORD n = 0;
        SYSTEMTIME local = {2001, 2, 0, 3, 4, 5, 6, 0}, utc;
        FILETIME written;
        const bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &n, nullptr) && n == data.size() &&
                        TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) &&
                        SystemTimeToFileTime(&utc, &written) && SetFileTime(h, nullptr, nullptr, &written);
        CloseHandle(h);
        return ok && SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
    }

    std::string ReadAll(const std::string& path)
    {
        std::string bytes;
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
            return bytes;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            bytes.append(buffer, n);
        std::fclose(f);
        return bytes;
    }

    // The cabinets of the set made in out\, in order, each removed once read.
    std::vector<std::string> TakeSet()
    {
        std::vector<std::string> cabinets;
        for (size_t i = 0;; ++i) {
            const std::string path = m_dir + "out\\" + pinned::MemberName(i);
            if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                return cabinets;
            cabinets.push_back(ReadAll(path));
            DeleteFileA(path.c_str());
        }
    }

    HMODULE m_dll = nullptr;
    Cab32Command m_cab = nullptr;
    std::string m_dir;
    std::vector<std::string> m_made; // files and folders made, in order
};

TEST_F(PinnedDll, TheSameBytesAsPinned)
{
    for (const pinned::Case& c : pinned::Cases()) {
        if (c.smallFolders)
            continue;
        SCOPED_TRACE(c.description);
        const std::string command = std::string(c.switches) + " -a \"" + m_dir + "out\\b.cab\" \"" + m_dir +
                                    "tree\\\" \"@" + m_dir + "tree\\respons.txt\"";
        char output[1024] = "";
        ASSERT_EQ(CAB_OK, m_cab(nullptr, command.c_str(), output, sizeof output)) << output;
        const std::vector<std::string> cabinets = TakeSet();
        ASSERT_FALSE(cabinets.empty());
        EXPECT_EQ(c.digest, pinned::Digest(cabinets)) << std::hex << pinned::Digest(cabinets);
    }
}

} // namespace
