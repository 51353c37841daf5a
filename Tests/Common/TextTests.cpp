#include "Common/Text.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TextCopy, CutsToTheBufferAndAlwaysTerminates)
{
    char szBuffer[8];
    std::memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_FALSE(CopyText(szBuffer, "abcdefghij"));
    EXPECT_STREQ("abcdefg", szBuffer);

    EXPECT_TRUE(CopyText(szBuffer, "abc"));
    EXPECT_STREQ("abc", szBuffer);
    EXPECT_TRUE(AppendText(szBuffer, "defg"));
    EXPECT_STREQ("abcdefg", szBuffer);
    EXPECT_FALSE(AppendText(szBuffer, "h"));
    EXPECT_STREQ("abcdefg", szBuffer);
}

TEST(TextCopy, BoundedLengthStopsAtTheFieldEnd)
{
    const char field[4] = { 'a', 'b', 'c', 'd' };  // no terminator
    EXPECT_EQ(4u, BoundedLength(field, sizeof field));
    EXPECT_EQ(2u, BoundedLength("ab", 10));
    EXPECT_EQ(0u, BoundedLength(nullptr, 10));
}
