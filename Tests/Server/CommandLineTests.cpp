// Splitting the server's joined command line: option values with their
// quoting rules, and the -LIMIT number.
#include "Server/CommandLine.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(GetNextArg, ReadsOneValueWithItsQuotedSections)
{
    struct Case
    {
        const char* pszLine;
        const char* pszValue;
        const char* pszRest;  // where the read position is left
    };
    const Case cases[] = {
        { "C:\\Logs -LIMIT 5", "C:\\Logs", " -LIMIT 5" },
        { " \t C:\\Logs", "C:\\Logs", "" },
        { "'C:\\My Logs' -RESET", "C:\\My Logs", " -RESET" },
        { "C:\\'My Logs'\\Old next", "C:\\My Logs\\Old", " next" },
        { "\"a 'b'\tc\" d", "a 'b'\tc", " d" },
        // A double quote also ends a single-quoted section.
        { "'a \"b c", "a b", " c" },
        { "'not closed at all", "not closed at all", "" },
        { "\"not closed either", "not closed either", "" },
        { "'' x", "", " x" },
        { "\"\"", "", "" },
        { "   ", "", "" },
        { "", "", "" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLine);
        std::string strLine = c.pszLine;
        char* pszPos = &strLine[0];
        char szValue[MAX_PATH] = "unchanged";
        EXPECT_EQ(GetNextArg(pszPos, szValue), c.pszValue[0] != '\0' ? 1 : 0);
        EXPECT_STREQ(szValue, c.pszValue);
        EXPECT_STREQ(pszPos, c.pszRest);
    }
}

TEST(GetNextArg, CutsALongValueAndRefusesNullArguments)
{
    std::string strLine = std::string(300, 'a') + " rest";
    char* pszPos = &strLine[0];
    char szValue[MAX_PATH];
    EXPECT_EQ(GetNextArg(pszPos, szValue), 1);
    EXPECT_EQ(std::string(szValue), std::string(MAX_PATH - 1, 'a'));
    EXPECT_STREQ(pszPos, " rest") << "the whole value is read over";

    char* pszNull = nullptr;
    EXPECT_EQ(GetNextArg(pszNull, szValue), 0);
    EXPECT_EQ(GetNextArg(pszPos, nullptr), 0);
}

TEST(ReadDecimal, ReadsTheLeadingNumber)
{
    struct Case
    {
        const char* pszText;
        long long nValue;
    };
    const Case cases[] = {
        { "100", 100 },   { "100kB", 100 }, { "x", 0 },    { "", 0 },
        { "-5", -5 },     { " \t+7", 7 },   { "- 5", 0 },  { "4194304", 4194304 },
        { "99999999999999999999", LLONG_MAX },  { "-99999999999999999999", LLONG_MIN },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadDecimal(c.pszText), c.nValue) << c.pszText;
}
