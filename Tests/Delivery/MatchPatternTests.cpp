#include "Client/WinNT/MatchPattern.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct MatchCase
{
    const char* pszPattern;
    const char* pszText;
    bool        bMatch;
};

const MatchCase MATCH_CASES[] = {
    // Plain characters: the whole text against the whole pattern.
    { "", "", true },
    { "", "A", false },
    { "A", "", false },
    { "ABC", "ABC", true },
    { "ABC", "ABD", false },
    { "ABC", "AB", false },
    { "AB", "ABC", false },
    { "\\", "\\", true },               // no escape character
    { "\\*", "\\ANY", true },
    { "NOTEPAD.EXE", "C:\\NOTEPAD.EXE", false },
    { "NOTEPAD.EXE ", "NOTEPAD.EXE", false },
    // "*", with and without the skip to the following character.
    { "*", "", true },
    { "*", "ANY TEXT", true },
    { "A*", "A", true },
    { "*A", "BA", true },
    { "*A", "AB", false },
    { "*AB", "AAB", true },
    { "*A*A", "AA", true },
    { "*A*A", "A", false },
    { "**", "", true },
    { "*?", "", false },
    { "*[AB]", "XXB", true },
    { "*\\NOTEPAD.EXE", "C:\\WINNT\\SYSTEM32\\NOTEPAD.EXE", true },
    { "*\\NOTEPAD.EXE", "C:\\TOOLS\\NOTEPAD.EXE.BAK", false },
    { "C:\\*\\*.EXE", "C:\\A\\B\\C.EXE", true },
    { "C:\\*\\*.EXE", "C:\\C.EXE", false },
    // "?".
    { "?", "", false },
    { "?", "A", true },
    { "A?C", "ABC", true },
    { "??", "A", false },
    // Sets.
    { "[A-C]", "B", true },
    { "[A-C]", "D", false },
    { "[^A-C]", "D", true },
    { "[^A-C]", "B", false },
    { "ABC[^X]", "ABC", false },      // a set needs a character, negated or not
    { "ABC[X]", "ABC", false },
    { "[]]", "]", true },             // "]" in first place is a member
    { "[]]", "A", false },
    { "[]A]", "A", true },
    { "[^]]", "]", false },
    { "[^]]", "A", true },
    { "[A-]", "A", true },            // "-" before the closing "]" is itself
    { "[A-]", "-", true },
    { "[A-]", "B", false },
    { "[-A]", "-", true },
    { "[A-C-E]", "-", true },
    { "[A-C-E]", "D", false },
    { "[A-C-E]", "E", true },
    { "[Z-A]", "M", false },          // an empty range
    { "[Z-A]", "Z", false },
    { "[AB]C", "BC", true },
    { "[AB]C", "B", false },
    // Ranges compare signed bytes: 0x80 and up sort below the ASCII characters.
    { "[\x01-\x7F]", "\x80", false },
    { "[\x80-A]", "\xFF", true },
    { "[\x80-A]", "B", false },
    { "[\xC0-\xDE]", "\xC9", true },
    // A "[" that is never closed is an ordinary character.
    { "[", "[", true },
    { "[", "A", false },
    { "[AB", "[AB", true },
    { "[AB", "A", false },
    { "[]", "[]", true },
    { "[^", "[^", true },
    { "[^]", "[^]", true },
    { "[^]", "A", false },
    { "*[", "AB[", true },
};

TEST(MatchPattern, FollowsEveryRule)
{
    for (const MatchCase& c : MATCH_CASES)
        EXPECT_EQ(c.bMatch, MatchPattern(c.pszPattern, c.pszText))
            << "pattern \"" << c.pszPattern << "\" text \"" << c.pszText << "\"";
}

TEST(MatchPattern, ManyStarsAgainstALongTextStillFinish)
{
    const std::string strPattern = "*A*A*A*A*A*A*A*A*A*A*B";
    const std::string strAs(5000, 'A');
    EXPECT_FALSE(MatchPattern(strPattern.c_str(), strAs.c_str()));
    EXPECT_TRUE(MatchPattern(strPattern.c_str(), (strAs + "B").c_str()));
    EXPECT_FALSE(MatchPattern("*[A-Z]*[A-Z]*[A-Z]*[A-Z]*[A-Z]*[A-Z]*[A-Z]*[A-Z]*?\\", strAs.c_str()));
}

}  // namespace
