#include "Common/Records/LogFile.h"

#include "Common/Handles.h"
#include "Common/Records/EventLine.h"
#include "Tests/Records/RecordFixture.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
// Points OutputFolder at a folder for the life of the object.
class COutputFolder
{
public:
    explicit COutputFolder(const std::string& strFolder) : m_strFolder(strFolder), m_pszPrevious(OutputFolder)
    {
        OutputFolder = &m_strFolder[0];
    }
    ~COutputFolder() { OutputFolder = m_pszPrevious; }

private:
    std::string m_strFolder;
    char*       m_pszPrevious;
};

EventRecord NumberedRecord(DWORD dwNumber)
{
    return MakeRecord({ "05/03/2003 09:12:40", "WS-017", "clerk", EVENT_TRACKED, "Tracked", "C:\\Apps\\Ledger.exe",
                        dwNumber });
}

std::string LineOf(DWORD dwNumber)
{
    EventRecord record = NumberedRecord(dwNumber);
    char szLine[EVENT_LINE_SIZE];
    FormatEventLine(&record, szLine);
    return szLine;
}

bool Write(CLogFile& log, DWORD dwNumber)
{
    EventRecord record = NumberedRecord(dwNumber);
    return log.WriteRecord(&record);
}

// Opens the log of a folder the way the client does.
void OpenIn(CLogFile& log, DWORD dwLimit)
{
    log.m_dwLimit = dwLimit;
    log.SetPaths("Process.log", "\\Process.old.log");
}

size_t CountEntries(const std::string& strFolder)
{
    WIN32_FIND_DATAA data;
    CFindHandle hFind(FindFirstFileA((strFolder + "\\*").c_str(), &data));
    size_t nEntries = 0;
    if (!hFind)
        return 0;
    do
    {
        if (std::string(data.cFileName) != "." && std::string(data.cFileName) != "..")
            ++nEntries;
    } while (FindNextFileA(hFind.Get(), &data));
    return nEntries;
}
}  // namespace

TEST(LogFile, LimitZeroRotatesBeforeEveryLine)
{
    CTestFolder folder;
    COutputFolder output(folder.Path());
    CLogFile log;
    OpenIn(log, 0);
    for (DWORD n = 1; n <= 3; ++n)
        EXPECT_TRUE(Write(log, n));
    // Two rotations: the first line is gone.
    EXPECT_EQ(LineOf(3), ReadWholeFile(folder.File("Process.log")));
    EXPECT_EQ(LineOf(2), ReadWholeFile(folder.File("Process.old.log")));
}

TEST(LogFile, RotatesBeforeTheLineThatFindsTheLimitReached)
{
    CTestFolder folder;
    const std::string strEarlier(1000, 'e');
    ASSERT_TRUE(WriteWholeFile(folder.File("Process.log"), strEarlier));
    COutputFolder output(folder.Path());
    CLogFile log;
    OpenIn(log, 1);

    // 1000 bytes are below 1 kB: the next line goes on and ends above it.
    EXPECT_TRUE(Write(log, 1));
    EXPECT_EQ(strEarlier + LineOf(1), ReadWholeFile(folder.File("Process.log")));
    EXPECT_FALSE(FileExists(folder.File("Process.old.log")));

    EXPECT_TRUE(Write(log, 2));
    EXPECT_EQ(strEarlier + LineOf(1), ReadWholeFile(folder.File("Process.old.log")));
    std::string strCurrent = LineOf(2);
    EXPECT_EQ(strCurrent, ReadWholeFile(folder.File("Process.log")));

    // Fill up again: the line after the one that reaches 1024 bytes rotates,
    // replacing the older generation.
    for (DWORD n = 3; n < 100; ++n)
    {
        bool bFull = strCurrent.size() >= 1024;
        ASSERT_TRUE(Write(log, n));
        if (bFull)
        {
            EXPECT_EQ(strCurrent, ReadWholeFile(folder.File("Process.old.log")));
            EXPECT_EQ(LineOf(n), ReadWholeFile(folder.File("Process.log")));
            return;
        }
        strCurrent += LineOf(n);
        ASSERT_EQ(strCurrent, ReadWholeFile(folder.File("Process.log")));
    }
    FAIL() << "never rotated a second time";
}

TEST(LogFile, LimitsAboveTheFileNeverRotateAndARestartContinuesTheFile)
{
    const DWORD limits[] = { NO_LIMIT, 0xFFFFFFFE, 4194304, 4194305, 8 };
    for (DWORD dwLimit : limits)
    {
        CTestFolder folder;
        const std::string strEarlier(5000, 'e');
        ASSERT_TRUE(WriteWholeFile(folder.File("Process.log"), strEarlier));
        COutputFolder output(folder.Path());
        std::string strExpected = strEarlier;
        for (int nRun = 0; nRun < 2; ++nRun)
        {
            CLogFile log;
            OpenIn(log, dwLimit);
            for (DWORD n = 1; n <= 3; ++n)
            {
                EXPECT_TRUE(Write(log, n)) << dwLimit;
                strExpected += LineOf(n);
            }
        }
        EXPECT_EQ(strExpected, ReadWholeFile(folder.File("Process.log"))) << "limit " << dwLimit;
        EXPECT_FALSE(FileExists(folder.File("Process.old.log"))) << "limit " << dwLimit;
    }
}

TEST(LogFile, AMissingFolderWritesNothingUntilItExists)
{
    for (DWORD dwLimit : { NO_LIMIT, DWORD(0), DWORD(1) })
    {
        CTestFolder folder;
        const std::string strFolder = folder.File("later");
        COutputFolder output(strFolder);
        CLogFile log;
        OpenIn(log, dwLimit);
        EXPECT_FALSE(Write(log, 1)) << dwLimit;

        ASSERT_TRUE(CreateDirectoryA(strFolder.c_str(), nullptr));
        EXPECT_EQ(0u, CountEntries(strFolder));
        EXPECT_TRUE(Write(log, 2)) << dwLimit;
        EXPECT_EQ(LineOf(2), ReadWholeFile(strFolder + "\\Process.log")) << dwLimit;
        EXPECT_FALSE(FileExists(strFolder + "\\Process.old.log")) << dwLimit;
    }
}

TEST(LogFile, AFailedCopyKeepsTheCurrentGeneration)
{
    CTestFolder folder;
    const std::string strOld = folder.File("Process.old.log");
    // A folder in the way of the older generation makes every copy fail.
    ASSERT_TRUE(CreateDirectoryA(strOld.c_str(), nullptr));
    COutputFolder output(folder.Path());
    CLogFile log;
    OpenIn(log, 0);
    EXPECT_TRUE(Write(log, 1));
    EXPECT_TRUE(Write(log, 2));
    EXPECT_EQ(LineOf(1) + LineOf(2), ReadWholeFile(folder.File("Process.log")));

    // Once the copy can succeed, the next line rotates.
    ASSERT_TRUE(RemoveDirectoryA(strOld.c_str()));
    EXPECT_TRUE(Write(log, 3));
    EXPECT_EQ(LineOf(1) + LineOf(2), ReadWholeFile(strOld));
    EXPECT_EQ(LineOf(3), ReadWholeFile(folder.File("Process.log")));
}

TEST(LogFile, ReadersShareTheOpenLogAndAFailedWriteIsRetried)
{
    CTestFolder folder;
    COutputFolder output(folder.Path());
    CLogFile log;
    OpenIn(log, NO_LIMIT);
    ASSERT_TRUE(Write(log, 1));
    const std::string strPath = folder.File("Process.log");

    CFileHandle hWriter(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(hWriter.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

    // A handle that cannot write stands for one gone bad: the line must still
    // arrive, once, through a reopened file.
    HANDLE hReader = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hReader);
    CloseHandle(log.m_hFile);
    log.m_hFile = hReader;
    EXPECT_TRUE(Write(log, 2));
    EXPECT_EQ(LineOf(1) + LineOf(2), ReadWholeFile(strPath));
}

namespace
{
class CCountingLog : public CLogFile
{
public:
    void Open(bool bTruncate) override
    {
        ++m_nOpens;
        CLogFile::Open(bTruncate);
    }
    bool KeepOldCopy() override { return false; }

    int m_nOpens = 0;
};
}  // namespace

TEST(LogFile, DerivedClassesDecideOpeningAndKeepingTheOldCopy)
{
    CTestFolder folder;
    COutputFolder output(folder.Path());
    CCountingLog log;
    OpenIn(log, 0);
    EXPECT_EQ(1, log.m_nOpens);
    EXPECT_TRUE(Write(log, 1));
    EXPECT_TRUE(Write(log, 2));
    // Rotation and retry reopen the file themselves, not through the override.
    EXPECT_EQ(1, log.m_nOpens);
    EXPECT_EQ(LineOf(2), ReadWholeFile(folder.File("Process.log")));
    EXPECT_FALSE(FileExists(folder.File("Process.old.log")));
}

TEST(LogFile, FoldersTooLongForThePathsOpenNothing)
{
    CTestFolder folder;
    struct LengthCase
    {
        size_t cchFolder;
        bool   bExists;  // create the folder
        bool   bFits;    // both paths fit 259 characters
    };
    // "\Process.log" adds 12 characters, "\Process.old.log" 16.
    const LengthCase cases[] = {
        { 243, true, true },
        { 244, false, false },
        { 247, true, false },
        { 248, false, false },
        { 300, false, false },
    };
    for (const LengthCase& c : cases)
    {
        std::string strFolder = folder.Path() + "\\";
        ASSERT_LT(strFolder.size(), c.cchFolder);
        strFolder += std::string(c.cchFolder - strFolder.size(), 'f');
        if (c.bExists)
        {
            ASSERT_TRUE(CreateDirectoryA(strFolder.c_str(), nullptr)) << c.cchFolder << " " << GetLastError();
        }
        COutputFolder output(strFolder);
        CLogFile log;
        OpenIn(log, 0);
        if (c.bFits)
        {
            EXPECT_EQ(strFolder + "\\Process.log", log.m_szLogPath);
            EXPECT_EQ(strFolder + "\\Process.old.log", log.m_szOldLogPath);
            EXPECT_TRUE(Write(log, 1));
        }
        else
        {
            EXPECT_STREQ("", log.m_szLogPath) << c.cchFolder;
            EXPECT_STREQ("", log.m_szOldLogPath) << c.cchFolder;
            EXPECT_EQ(INVALID_HANDLE_VALUE, log.m_hFile) << c.cchFolder;
            EXPECT_FALSE(Write(log, 1)) << c.cchFolder;
            EXPECT_FALSE(Write(log, 2)) << c.cchFolder;
        }
        if (c.bExists)
        {
            // Limit 0 rotated the empty log before the line: both files exist.
            EXPECT_EQ(c.bFits ? 2u : 0u, CountEntries(strFolder)) << c.cchFolder;
        }
        log.Close();
        if (c.bExists)
            RemoveTree(strFolder);
    }

    // Without a folder, both paths start at the root.
    COutputFolder output("");
    CLogFile log;
    log.SetPaths("qf-no-such-folder\\Process.log", "\\qf-no-such-folder\\Process.old.log");
    EXPECT_STREQ("\\qf-no-such-folder\\Process.log", log.m_szLogPath);
    EXPECT_STREQ("\\qf-no-such-folder\\Process.old.log", log.m_szOldLogPath);
    char* pszSaved = OutputFolder;
    OutputFolder = nullptr;
    log.SetPaths("qf-no-such-folder\\Process.log", "\\qf-no-such-folder\\Process.old.log");
    EXPECT_STREQ("\\qf-no-such-folder\\Process.log", log.m_szLogPath);
    OutputFolder = pszSaved;
}
