#include <gtest/gtest.h>
#include <windows.h>

TEST(Environment, AnsiCodePageIs932)
{
    EXPECT_EQ(932u, GetACP());
}
