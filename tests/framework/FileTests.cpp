#include "framework/CArchive.h"
#include "framework/CFile.h"
#include "framework/CStdioFile.h"
#include "tests/framework/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(FileOpenFlags, NumericValuesAndTheirMeaning)
{
    EXPECT_EQ(0x1011u, static_cast<UINT>(CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    EXPECT_EQ(0x0020u, static_cast<UINT>(CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(0x8000u, static_cast<UINT>(CFile::typeBinary));

    DWORD access, share, creation;
    CFile::MapOpenFlags(0x1011, access, share, creation);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), access);
    EXPECT_EQ(0u, share);
    EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), creation);
    CFile::MapOpenFlags(0x0020, access, share, creation);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ), access);
    EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ), share);
    EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), creation);
    CFile::MapOpenFlags(CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate | CFile::shareDenyNone, access,
                        share, creation);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), access);
    EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), share);
    EXPECT_EQ(static_cast<DWORD>(OPEN_ALWAYS), creation);
}

TEST(FileOpen, FailuresReportTheirCause)
{
    TempDir dir;
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(dir / "missing.dat", CFile::modeRead, &error));
    EXPECT_EQ(CFileException::fileNotFound, error.m_cause);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, error.m_lOsError);

    ASSERT_TRUE(WriteBytes(dir / "held.dat", "x"));
    HANDLE other = CreateFileA(dir / "held.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_FALSE(file.Open(dir / "held.dat", CFile::modeRead | CFile::shareDenyWrite, &error));
    EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
    CloseHandle(other);

    // Opened with shareExclusive, nobody else may open it; shareDenyWrite lets readers in.
    ASSERT_TRUE(file.Open(dir / "held.dat", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileA(dir / "held.dat", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    file.Close();
    ASSERT_TRUE(file.Open(dir / "held.dat", CFile::modeRead | CFile::shareDenyWrite));
    HANDLE reader = CreateFileA(dir / "held.dat", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(dir / "held.dat", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(FileOpen, CreateEmptiesUnlessNoTruncate)
{
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / "a.dat", "old content"));
    {
        CFile file(dir / "a.dat", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
        EXPECT_EQ(11u, file.GetLength());
    }
    {
        CFile file(dir / "a.dat", CFile::modeCreate | CFile::modeWrite);
        EXPECT_EQ(0u, file.GetLength());
        file.Write("new", 3);
    }
    EXPECT_EQ("new", ReadBytes(dir / "a.dat"));
    EXPECT_THROW(CFile(dir / "nothing\\a.dat", CFile::modeRead), CFileException);
}

TEST(StoringArchive, SmallFileReachesDiskOnlyAtClose)
{
    TempDir dir;
    CFile file(dir / "a.dat", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    CArchive ar(&file, CArchive::store);
    ar << CString("abc") << 7;
    EXPECT_EQ(0u, file.GetLength());
    CString big('z', 5000);
    ar << big;
    EXPECT_EQ(4096u, file.GetLength());
    ar.Close();
    EXPECT_EQ(4u + 4u + 3u + 5000u, file.GetLength());
}

TEST(StoringArchive, CloseThrowsWhenTheLastWriteFails)
{
    TempDir dir;
    ASSERT_EQ(0u, RunUnix("ln -s /dev/full " + dir.UnixPath() + "/full.dat"));
    CFile file(dir / "full.dat", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
    CArchive ar(&file, CArchive::store);
    ar << CString("abc");
    try {
        ar.Close();
        FAIL() << "a failed write was not reported";
    } catch (CFileException& e) {
        EXPECT_EQ(CFileException::diskFull, e.m_cause);
    }
}

TEST(LoadingArchive, ReadsAcrossBufferRefills)
{
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 3000; i++)
        bytes += "\x02" "ab";
    ASSERT_TRUE(WriteBytes(dir / "a.dat", bytes));
    CFile file(dir / "a.dat", CFile::modeRead | CFile::shareDenyWrite);
    CArchive ar(&file, CArchive::load);
    CString text;
    for (int i = 0; i < 3000; i++) {
        ar >> text;
        ASSERT_EQ(CString("ab"), text) << i;
    }
    EXPECT_THROW(ar >> text, CArchiveException);
}

TEST(StdioFile, TextModeWritesCrLfBinaryModeDoesNot)
{
    TempDir dir;
    CStdioFile text;
    ASSERT_TRUE(text.Open(dir / "t.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    text.WriteString("\"");
    text.WriteString("sub\\表.txt");
    text.WriteString("\"\n");
    text.WriteString("a\n\nb");
    text.Close();
    EXPECT_EQ("\"sub\\表.txt\"\r\na\r\n\r\nb", ReadBytes(dir / "t.txt"));

    CStdioFile binary;
    ASSERT_TRUE(binary.Open(dir / "b.txt", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
    binary.WriteString("a\nb\n");
    binary.Close();
    EXPECT_EQ("a\nb\n", ReadBytes(dir / "b.txt"));
}

TEST(StdioFile, BufferedUntilFullOrClosed)
{
    TempDir dir;
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir / "t.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    file.WriteString("line\n");
    EXPECT_EQ(0u, file.CFile::GetLength());
    EXPECT_EQ(6u, file.GetLength());
    CString block('x', 5000);
    file.WriteString(block);
    EXPECT_EQ(5006u, file.CFile::GetLength());
    file.WriteString("end");
    file.Close();
    EXPECT_EQ(5009u, ReadBytes(dir / "t.txt").size());
}

TEST(StdioFile, FailedWriteAtCloseThrowsAndClosesTheFile)
{
    TempDir dir;
    ASSERT_EQ(0u, RunUnix("ln -s /dev/full " + dir.UnixPath() + "/full.txt"));
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir / "full.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    file.WriteString("short line\n");
    try {
        file.Close();
        FAIL() << "a failed buffered write was not reported";
    } catch (CFileException& e) {
        EXPECT_EQ(CFileException::diskFull, e.m_cause);
    }
    EXPECT_FALSE(file.IsOpen());
}

TEST(StdioFile, FailedWriteWhenTheBufferFillsThrowsFromWriteString)
{
    TempDir dir;
    ASSERT_EQ(0u, RunUnix("ln -s /dev/full " + dir.UnixPath() + "/full.txt"));
    CStdioFile file;
    ASSERT_TRUE(file.Open(dir / "full.txt", CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    CString line('x', 1000);
    EXPECT_THROW(
        for (int i = 0; i < 5; i++) file.WriteString(line), CFileException);
}

TEST(SimulatedFullDisk, KeepsWhatFitsAndThenFails)
{
    TempDir dir;
    CFile::SimulateDiskFull("limited.txt", 10);
    {
        CStdioFile file;
        ASSERT_TRUE(file.Open(dir / "limited.txt", CFile::modeCreate | CFile::modeWrite));
        file.WriteString("0123456789ab\n");
        EXPECT_THROW(file.Close(), CFileException);
    }
    CFile::SimulateDiskFull(nullptr, 0);
    EXPECT_EQ("0123456789", ReadBytes(dir / "limited.txt"));
}
