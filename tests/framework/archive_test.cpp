#include "framework/CArchive.h"
#include "framework/CMemFile.h"

#include <gtest/gtest.h>

#include <string>

static std::string Stored(const CString& text)
{
    CMemFile memory;
    CArchive ar(&memory, CArchive::store);
    ar << text;
    ar.Close();
    return std::string(memory.GetData().begin(), memory.GetData().end());
}

// The text read from the bytes, or the cause of the archive error as "cause N".
static std::string Loaded(const std::string& bytes)
{
    CMemFile memory(bytes.data(), bytes.size());
    CArchive ar(&memory, CArchive::load);
    CString text("previous");
    try {
        ar >> text;
    } catch (CArchiveException& e) {
        return "cause " + std::to_string(e.m_cause);
    }
    return std::string(text.GetString(), static_cast<size_t>(text.GetLength()));
}

TEST(ArchivedString, LengthPrefixAndRoundTrip)
{
    struct Case
    {
        CString text;
        std::string prefix;
    } cases[] = {
        {CString('x', 0), std::string("\x00", 1)},
        {CString('x', 254), "\xFE"},
        {CString('x', 255), std::string("\xFF\xFF\x00", 3)},
        {CString('x', 65533), "\xFF\xFD\xFF"},
        {CString('x', 65534), std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {CString("表示, ソース ,a,,b\\表"), ""}, // one length byte, whatever the source's character set
    };
    for (const Case& c : cases) {
        std::string text(c.text.GetString(), static_cast<size_t>(c.text.GetLength()));
        std::string prefix = c.prefix.empty() ? std::string(1, static_cast<char>(text.size())) : c.prefix;
        EXPECT_EQ(prefix + text, Stored(c.text)) << text.size();
        EXPECT_EQ(text, Loaded(prefix + text)) << text.size();
    }
}

TEST(ArchivedString, DamagedDataFailsWithItsCause)
{
    std::string endOfFile = "cause " + std::to_string(CArchiveException::endOfFile);
    EXPECT_EQ(endOfFile, Loaded(""));
    EXPECT_EQ(endOfFile, Loaded("\xFF\x10"));
    EXPECT_EQ(endOfFile, Loaded("\x05"
                                "abc"));
    // 0xFFFFFFFE bytes claimed by 12: allocating them would fail with a memory error instead.
    EXPECT_EQ(endOfFile, Loaded(std::string("\xFF\xFF\xFF\xFE\xFF\xFF\xFF"
                                            "abcde",
                                            12)));
    // FF FE FF marks a UTF-16 text.
    EXPECT_EQ("cause " + std::to_string(CArchiveException::genericException), Loaded(std::string("\xFF\xFE\xFF\x02"
                                                                                                 "a\0b\0",
                                                                                                 8)));
}
