#include "Client/WinNT/Logger.h"
#include "Tests/Delivery/LoggerFixture.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::vector<int> QueuedTypes(const CLogger& logger)
{
    std::vector<int> types;
    for (UINT i = 0; i < logger.m_Queue.GetCount(); ++i)
        types.push_back(logger.m_Queue.Get(i)->nType);
    return types;
}

SYSTEMTIME LocalTimeBefore(LONGLONG llAgo)
{
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    FILETIME ft;
    SystemTimeToFileTime(&stNow, &ft);
    ULARGE_INTEGER uli;
    uli.LowPart = ft.dwLowDateTime;
    uli.HighPart = ft.dwHighDateTime;
    uli.QuadPart -= llAgo;
    ft.dwLowDateTime = uli.LowPart;
    ft.dwHighDateTime = uli.HighPart;
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    return st;
}

// The user the builder names when it is given none: the client's own account.
std::string OwnAccount()
{
    EventRecord record;
    BuildEventRecord(&record, "x", 0, nullptr);
    return record.szUser;
}

// Emits one event of each kind into the queue.
void EmitAll(CLogger& logger)
{
    const SYSTEMTIME stStart = LocalTimeBefore(10000000);
    logger.LogStarted();
    logger.LogTracked("C:\\Tools\\Tool.exe", 1, "alice");
    logger.LogFinished("C:\\Tools\\Tool.exe", 1, stStart, 0, 50, "alice");
    logger.LogStopped();
}

TEST(Emitters, IgnoreSettingsSuppressTheirEvents)
{
    const struct
    {
        int              nIgnorePrograms;
        int              nIgnoreStartFinish;
        std::vector<int> types;
    } cases[] = {
        { 0, 0, { EVENT_LOGGING_STARTED, EVENT_TRACKED, EVENT_FINISHED, EVENT_LOGGING_STOPPED } },
        { 1, 0, { EVENT_LOGGING_STARTED, EVENT_LOGGING_STOPPED } },
        { 0, 1, { EVENT_TRACKED, EVENT_FINISHED } },
        { 1, 1, {} },
        { -1, 0, { EVENT_LOGGING_STARTED, EVENT_LOGGING_STOPPED } },  // any non-zero value
    };
    for (const auto& c : cases)
    {
        CLogger logger;
        logger.ServerDelivery = true;
        logger.m_nIgnorePrograms = c.nIgnorePrograms;
        logger.m_nIgnoreStartFinish = c.nIgnoreStartFinish;
        EmitAll(logger);
        EXPECT_EQ(c.types, QueuedTypes(logger)) << c.nIgnorePrograms << "/" << c.nIgnoreStartFinish;
    }
}

TEST(Emitters, FiltersApplyToProgramEventsOnly)
{
    CTestFolder folder;
    const std::string strPath = folder.File("filters.txt");
    ASSERT_TRUE(WriteWholeFile(strPath, "*\\NOTEPAD.EXE\r\n"));
    CLogger logger;
    logger.ServerDelivery = true;
    logger.LoadFilters(strPath.c_str());
    const SYSTEMTIME stStart = LocalTimeBefore(10000000);

    logger.LogStarted();
    logger.LogTracked("C:\\WINNT\\system32\\Notepad.exe", 7, "");
    logger.LogTracked("C:\\Tools\\Notepad.exe.bak", 8, "");
    logger.LogFinished("C:\\Tools\\Notepad.exe.bak", 8, stStart, 0, 0, "");
    logger.LogFinished("C:\\WINNT\\system32\\Notepad.exe", 7, stStart, 0, 0, "");
    logger.LogStopped();

    ASSERT_EQ((std::vector<int>{ EVENT_LOGGING_STARTED, EVENT_TRACKED, EVENT_FINISHED, EVENT_LOGGING_STOPPED }),
              QueuedTypes(logger));
    // The record keeps the path's own letter case.
    EXPECT_STREQ("C:\\WINNT\\system32\\Notepad.exe", logger.m_Queue.Get(1)->szProgram);
    EXPECT_STREQ("C:\\WINNT\\system32\\Notepad.exe", logger.m_Queue.Get(2)->szProgram);
}

TEST(Emitters, FillTheFieldsOfTheirKind)
{
    CLogger logger;
    logger.ServerDelivery = true;
    const SYSTEMTIME stStart = LocalTimeBefore(36000000000LL + 2 * 600000000LL + 3 * 10000000LL);
    const SYSTEMTIME stUnreadable = {};

    logger.LogStarted();
    logger.LogStopped();
    logger.LogTracked("C:\\Tools\\Tool.exe", 1234, "alice");
    logger.LogTracked("C:\\Tools\\Other.exe", 99, "");
    logger.LogFinished("C:\\Tools\\Tool.exe", 1234, stStart, 123456789, 42, "alice");
    logger.LogFinished("C:\\Tools\\Tool.exe", 1234, stUnreadable, NO_CPU_TIME, NO_ACTIVITY, "bob");
    ASSERT_EQ(6u, logger.m_Queue.GetCount());
    const std::string strAccount = OwnAccount();
    ASSERT_FALSE(strAccount.empty());

    const EventRecord& started = *logger.m_Queue.Get(0);
    EXPECT_STREQ("Logging started", started.szEvent);
    EXPECT_EQ(EVENT_LOGGING_STARTED, started.nType);
    EXPECT_EQ(strAccount, started.szUser);
    EXPECT_STREQ("", started.szProgram);
    EXPECT_EQ(0u, started.dwProcessId);
    EXPECT_EQ(0, started.bActivity);

    const EventRecord& stopped = *logger.m_Queue.Get(1);
    EXPECT_STREQ("Logging stopped", stopped.szEvent);
    EXPECT_EQ(EVENT_LOGGING_STOPPED, stopped.nType);

    const EventRecord& tracked = *logger.m_Queue.Get(2);
    EXPECT_STREQ("Tracked", tracked.szEvent);
    EXPECT_EQ(EVENT_TRACKED, tracked.nType);
    EXPECT_STREQ("alice", tracked.szUser);
    EXPECT_STREQ("C:\\Tools\\Tool.exe", tracked.szProgram);
    EXPECT_EQ(1234u, tracked.dwProcessId);
    EXPECT_STREQ("", tracked.szDuration);
    EXPECT_STREQ("", tracked.szCpuTime);
    EXPECT_EQ(0, tracked.bActivity);
    EXPECT_EQ(strAccount, logger.m_Queue.Get(3)->szUser);

    const EventRecord& finished = *logger.m_Queue.Get(4);
    EXPECT_STREQ("Finished", finished.szEvent);
    EXPECT_EQ(EVENT_FINISHED, finished.nType);
    EXPECT_STREQ("alice", finished.szUser);
    EXPECT_STREQ("C:\\Tools\\Tool.exe", finished.szProgram);
    EXPECT_EQ(1234u, finished.dwProcessId);
    // Started 1:02:03 ago; a slow machine may have passed the next second.
    EXPECT_TRUE(std::string(finished.szDuration) == "01:02:03" || std::string(finished.szDuration) == "01:02:04")
        << finished.szDuration;
    EXPECT_STREQ("00:00:12", finished.szCpuTime);
    EXPECT_EQ(42, finished.bActivity);

    const EventRecord& unknown = *logger.m_Queue.Get(5);
    EXPECT_STREQ("", unknown.szDuration);  // an unreadable start time gives no run time
    EXPECT_STREQ("", unknown.szCpuTime);
    EXPECT_EQ(NO_ACTIVITY, unknown.bActivity);
}

TEST(Emitters, HandOnToTheLocalLogAndTheQueue)
{
    CTestFolder folder;
    UseOutputFolder(folder.Path());
    CLogger logger;
    logger.LocalLogging = true;
    logger.SetPaths("Process.log", "\\Process.old.log", "\\buffer.dat");
    logger.LogStarted();
    EXPECT_EQ(0u, logger.m_Queue.GetCount());  // local logging only

    logger.ServerDelivery = true;  // both outputs from here on
    logger.LogTracked("C:\\Tools\\Tool.exe", 1234, "alice");
    ASSERT_EQ(1u, logger.m_Queue.GetCount());
    EXPECT_EQ(EVENT_TRACKED, logger.m_Queue.Get(0)->nType);

    const std::string strLog = ReadWholeFile(folder.File("Process.log"));
    const size_t nFirstEnd = strLog.find("\r\n");
    ASSERT_NE(std::string::npos, nFirstEnd) << strLog;
    EXPECT_NE(std::string::npos, strLog.substr(0, nFirstEnd).find("Logging started")) << strLog;
    const std::string strSecond = strLog.substr(nFirstEnd + 2);
    EXPECT_NE(std::string::npos, strSecond.find("Tracked")) << strLog;
    EXPECT_NE(std::string::npos, strSecond.find("C:\\Tools\\Tool.exe")) << strLog;
    EXPECT_EQ(strSecond.size() - 2, strSecond.find("\r\n")) << strLog;  // exactly two lines
    EXPECT_FALSE(FileExists(folder.File("buffer.dat")));
    OutputFolder = nullptr;
}

}  // namespace
