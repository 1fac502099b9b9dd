#include "framework/CArchive.h"
#include "framework/CMemFile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Stored(const CString& text)
{
    CMemFile memory;
    CArchive ar(&memory, CArchive::store);
    ar << text;
    ar.Close();
    return std::string(memory.GetData().begin(), memory.GetData().end());
}

CString Loaded(const std::string& bytes)
{
    CMemFile memory(bytes.data(), bytes.size());
    CArchive ar(&memory, CArchive::load);
    CString text("previous");
    ar >> text;
    return text;
}

int EndOfFileCause(const std::string& bytes)
{
    try {
        Loaded(bytes);
    } catch (CArchiveException& e) {
        return e.m_cause;
    }
    return -1;
}

} // namespace

TEST(ArchivedString, LengthPrefixAtEachBoundary)
{
    struct Case {
        int length;
        std::string prefix;
    } cases[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {65533, "\xFF\xFD\xFF"},
        {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    for (const Case& c : cases) {
        CString text('x', c.length);
        std::string bytes = Stored(text);
        ASSERT_EQ(c.prefix.size() + static_cast<size_t>(c.length), bytes.size()) << c.length;
        EXPECT_EQ(c.prefix, bytes.substr(0, c.prefix.size())) << c.length;
        EXPECT_EQ(text, Loaded(bytes)) << c.length;
    }
}

TEST(ArchivedString, DoubleByteCommasAndSpacesRoundTrip)
{
    CString text("表示, ソース ,a,,b\\表");
    std::string bytes = Stored(text);
    EXPECT_EQ(static_cast<size_t>(text.GetLength()) + 1, bytes.size());
    EXPECT_EQ(text, Loaded(bytes));
}

TEST(ArchivedString, ShortDataIsEndOfFile)
{
    // Empty data, a prefix cut short, and a text cut short.
    EXPECT_EQ(CArchiveException::endOfFile, EndOfFileCause(""));
    EXPECT_EQ(CArchiveException::endOfFile, EndOfFileCause("\xFF\x10"));
    EXPECT_EQ(CArchiveException::endOfFile, EndOfFileCause("\x05" "abc"));
}

TEST(ArchivedString, LengthFarBeyondTheEndFailsWithoutAllocating)
{
    // 0xFFFFFFFE bytes claimed by a 12-byte file: an allocation of that size
    // would throw a memory error instead of end of file.
    std::string bytes("\xFF\xFF\xFF\xFE\xFF\xFF\xFF" "abcde", 12);
    EXPECT_EQ(CArchiveException::endOfFile, EndOfFileCause(bytes));
    std::string medium("\xFF\x00\x80" "abc", 6);
    EXPECT_EQ(CArchiveException::endOfFile, EndOfFileCause(medium));
}

TEST(ArchivedString, Utf16MarkedTextIsRejected)
{
    // FF FE FF marks a UTF-16 text; the 2 characters "ab" follow.
    std::string bytes("\xFF\xFE\xFF\x02" "a\0b\0", 8);
    EXPECT_EQ(CArchiveException::genericException, EndOfFileCause(bytes));
}

TEST(ArchiveIntegers, SignedLittleEndianAndModes)
{
    CMemFile memory;
    CArchive out(&memory, CArchive::store);
    EXPECT_TRUE(out.IsStoring());
    EXPECT_FALSE(out.IsLoading());
    out << 1 << -1 << 0x12345678;
    out.Close();
    std::string bytes(memory.GetData().begin(), memory.GetData().end());
    EXPECT_EQ(std::string("\x01\0\0\0\xFF\xFF\xFF\xFF\x78\x56\x34\x12", 12), bytes);

    memory.SeekToBegin();
    CArchive in(&memory, CArchive::load);
    EXPECT_TRUE(in.IsLoading());
    int a = 0, b = 0, c = 0, d = 0;
    in >> a >> b >> c;
    EXPECT_EQ(1, a);
    EXPECT_EQ(-1, b);
    EXPECT_EQ(0x12345678, c);
    try {
        in >> d;
        FAIL() << "read past the end";
    } catch (CArchiveException& e) {
        EXPECT_EQ(CArchiveException::endOfFile, e.m_cause);
    }
}

TEST(ArchiveIntegers, StoringArchiveRefusesToLoad)
{
    CMemFile memory;
    CArchive ar(&memory, CArchive::store);
    int value = 0;
    EXPECT_THROW(ar >> value, CArchiveException);
}
