// The e2e tests run once under each system locale that make test gives them (tools/wine-run): ja_JP.UTF-8,
// code page 932, and C.UTF-8, code page 1252, where the program's manifest must give it 932 all the same.
// The test program asks for 932 in the same way, so that its own texts stay readable.
#pragma once

#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

// The Unix locale Wine runs this test in.
inline std::string Locale()
{
    char name[64] = "";
    GetEnvironmentVariableA("LANG", name, sizeof name);
    return name;
}

// Expects bytes, what the program made of step in the running test, to be what it made of that step under
// the other locales; each locale's bytes are kept beside this test program until the next run under it.
inline void ExpectSameInEveryLocale(const std::string& step, const std::string& bytes)
{
    char self[MAX_PATH] = "";
    std::string folder(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    folder.resize(folder.rfind('\\') + 1);
    folder += "e2e-locales\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::string key = std::to_string(std::hash<std::string>()(test + ": " + step));
    ASSERT_TRUE(testing_support::WriteBytes((folder + key + "." + Locale()).c_str(), bytes));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + key + ".*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        EXPECT_EQ(testing_support::ReadBytes((folder + found.cFileName).c_str()), bytes)
            << test << ": " << step << ", under " << Locale() << " against " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}
