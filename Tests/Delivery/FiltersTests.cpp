#include "Client/WinNT/Logger.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::string> Patterns(const CLogger& logger)
{
    std::vector<std::string> patterns;
    for (UINT i = 0; i < logger.m_Filters.GetCount(); ++i)
        patterns.push_back(*logger.m_Filters.Get(i));
    return patterns;
}

TEST(FiltersFile, OnePatternPerLineUpperCased)
{
    const struct
    {
        const char*              pszName;
        std::string              strContent;
        std::vector<std::string> patterns;
    } cases[] = {
        { "CR LF", "c:\\a.exe\r\nb\r\n", { "C:\\A.EXE", "B" } },
        { "CR or LF alone", "a\rb\nc", { "A", "B", "C" } },
        { "runs of line ends", "\r\n\r\nx\n\n\r\ry\r", { "X", "Y" } },
        { "only line ends", "\r\n\r\n\n\r", {} },
        { "empty file", "", {} },
        { "NUL ends the text", std::string("ab\ncd\0ef\ngh", 11), { "AB", "CD" } },
        { "blanks and tabs are kept", " c:\\my tools\\*\t \n", { " C:\\MY TOOLS\\*\t " } },
        { "long line cut to 259", std::string(300, 'x') + "\nz", { std::string(259, 'X'), "Z" } },
        { "line of exactly 259", std::string(259, 'q'), { std::string(259, 'Q') } },
    };
    CTestFolder folder;
    for (const auto& c : cases)
    {
        const std::string strPath = folder.File("filters.txt");
        ASSERT_TRUE(WriteWholeFile(strPath, c.strContent));
        CLogger logger;
        logger.LoadFilters(strPath.c_str());
        EXPECT_EQ(c.patterns, Patterns(logger)) << c.pszName;
    }
}

TEST(FiltersFile, NoFileMeansNoFilters)
{
    CTestFolder folder;
    CLogger logger;
    logger.LoadFilters("");
    logger.LoadFilters(nullptr);
    logger.LoadFilters(folder.File("missing.txt").c_str());
    EXPECT_EQ(0u, logger.m_Filters.GetCount());
    EXPECT_TRUE(logger.PassesFilters("C:\\ANY\\PROGRAM.EXE"));
}

TEST(FiltersFile, TheTestIgnoresCaseAndTriesEveryPattern)
{
    CTestFolder folder;
    const std::string strPath = folder.File("filters.txt");
    ASSERT_TRUE(WriteWholeFile(strPath, "*\\notepad.exe\r\nc:\\tools\\[a-c]*.exe\r\n"));
    CLogger logger;
    logger.LoadFilters(strPath.c_str());
    const struct
    {
        const char* pszProgram;
        bool        bPasses;
    } cases[] = {
        { "C:\\WINNT\\system32\\Notepad.exe", true },
        { "C:\\Tools\\Notepad.exe.bak", false },
        { "notepad.exe", false },
        { "c:\\Tools\\Calc.exe", true },
        { "C:\\TOOLS\\DIFF.EXE", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bPasses, logger.PassesFilters(c.pszProgram)) << c.pszProgram;
}

}  // namespace
