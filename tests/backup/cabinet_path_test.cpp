// The cabinet path from the save dialog, held in code page 932 for the archiver: its folders by their short
// names where the code page lacks their names, its file name only exactly.
#include "backup/CabinetPath.h"
#include "framework/AfxCodePage.h"
#include "project/CodePagePath.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace testing_support;

namespace {

TEST(CabinetPath, FoldersByShortNamesTheFileNameExactlyOrAMessage)
{
    TempDir dir;
    const std::wstring root = AfxFromCodePage(dir.Path()), ueber = root + L"\u00DCber";
    ASSERT_TRUE(CreateDirectoryW(ueber.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((root + L"Uber").c_str(), nullptr));
    const std::string ueberHeld(HoldPath(ueber).path);
    ASSERT_EQ(std::string::npos, ueberHeld.find("Uber")) << ueberHeld;
    // An existing cabinet named outside the code page has a short name, which must not be used either.
    HANDLE existing = CreateFileW((ueber + L"\\\u00DC.cab").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, existing);
    CloseHandle(existing);
    const struct
    {
        const char* what;
        std::wstring chosen;
        std::string held; // empty: refused, with the message naming chosen
    } cases[] = {
        {"plain", root + L"out.cab", std::string(dir.Path()) + "out.cab"},
        {"double-byte", root + L"表.cab", std::string(dir.Path()) + "表.cab"},
        {"beside Uber", root + L"Uber\\out.cab", std::string(dir.Path()) + "Uber\\out.cab"},
        {"in U-umlaut-ber", ueber + L"\\out.cab", ueberHeld + "\\out.cab"},
        {"named outside the code page", ueber + L"\\t\u00DC.cab", ""},
        {"an existing one named outside it", ueber + L"\\\u00DC.cab", ""},
        {"named with a yen sign", root + L"a\u00A5b.cab", ""},
        {"in a missing folder outside it", root + L"\u00DCnknown\\out.cab", ""},
        {"a bare name", L"out.cab", "out.cab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MessageBoxRecorder boxes;
        CString held = "unchanged";
        EXPECT_EQ(!c.held.empty(), HoldCabinetPath(c.chosen, held));
        EXPECT_EQ(c.held.empty() ? "unchanged" : c.held, std::string(held));
        ASSERT_EQ(c.held.empty() ? 1u : 0u, boxes.Boxes().size());
        if (c.held.empty()) {
            EXPECT_EQ(NotHeldMessage(PathUse::Cabinet, c.chosen), boxes.Boxes()[0].wide);
        }
    }
}

} // namespace
