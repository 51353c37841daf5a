// The tick: what it reports for helper programs that start and end, the
// finish statistics, and the foreground sampling on every path.
#include "Client/WinNT/ProcessMonitor.h"
#include "Tests/Monitor/MonitorTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace
{
constexpr DWORD PLATFORM_9X = VER_PLATFORM_WIN32_WINDOWS;

std::string Canonical(std::string strPath)
{
    char szPath[MAX_PATH];
    lstrcpynA(szPath, strPath.c_str(), sizeof szPath);
    return CProcessMonitor::CanonicalizePath(szPath);
}

// A window station of the test's own with one desktop, so that sampling
// every station always visits a station other than this process's.
class CTestStation
{
public:
    CTestStation()
    {
        m_hStation = CreateWindowStationA("QuillfenTestStation", 0, WINSTA_ALL_ACCESS, nullptr);
        HWINSTA hOwnStation = GetProcessWindowStation();
        if (m_hStation && SetProcessWindowStation(m_hStation))
        {
            m_hDesktop = CreateDesktopA("QuillfenTestDesktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
            SetProcessWindowStation(hOwnStation);
        }
    }
    ~CTestStation()
    {
        if (m_hDesktop)
            CloseDesktop(m_hDesktop);
        if (m_hStation)
            CloseWindowStation(m_hStation);
    }
    bool IsValid() const { return m_hDesktop != nullptr; }

private:
    HWINSTA m_hStation = nullptr;
    HDESK   m_hDesktop = nullptr;
};

ProcessEntry* ListedEntry(CProcessMonitor& monitor, DWORD dwProcessId)
{
    return const_cast<ProcessEntry*>(FindEntry(monitor.m_Processes, dwProcessId));
}
}  // namespace

TEST(Tick, ActivityIsTheShareOfForegroundTicksRoundedHalfUp)
{
    struct
    {
        int  nActive;
        int  nTicks;
        BYTE bExpected;
    } cases[] = {
        { 1, 3, 33 }, { 2, 3, 67 }, { 1, 8, 13 }, { 1, 200, 1 }, { 1, 201, 0 }, { 7, 7, 100 },
        // Never in the foreground, or never counted: no share at all.
        { 0, 50, NO_ACTIVITY }, { 3, 0, NO_ACTIVITY }, { 0, 0, NO_ACTIVITY },
        // Years of foreground ticks: the product needs more than 32 bits.
        { 30000000, 30000000, 100 }, { INT_MAX, INT_MAX, 100 }, { INT_MAX / 2, INT_MAX, 50 },
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(CProcessMonitor::ActivityPercentage(c.nActive, c.nTicks), c.bExpected)
            << c.nActive << " of " << c.nTicks;
    }
}

TEST(Tick, HelperThatEndsIsReportedWithTheCpuTimeOfItsHandle)
{
    CRecordingMonitor monitor(true);
    monitor.Tick(false);
    monitor.m_Events.clear();

    CHelper helper("burn", 500);
    ASSERT_TRUE(monitor.TickUntil(false, helper.ProcessId()));
    const ReportedEvent tracked = monitor.m_Events[monitor.Find(false, helper.ProcessId())];
    EXPECT_EQ(lstrcmpiA(tracked.entry.szProgram, CHelper::Path().c_str()), 0);
    EXPECT_EQ(tracked.entry.szProgram, Canonical(CHelper::Path()));
    EXPECT_NE(tracked.entry.szUser[0], '\0');
    EXPECT_NE(tracked.entry.hProcess, nullptr);

    // Every tick counts the listed helper, whether or not it reports anything.
    const int nTicks = ListedEntry(monitor, helper.ProcessId())->nTicks;
    monitor.Tick(false);
    if (helper.IsRunning())
    {
        EXPECT_EQ(ListedEntry(monitor, helper.ProcessId())->nTicks, nTicks + 1);
    }

    // The times of an ended process may still settle for a moment (under
    // Wine they do): the reported time lies between two readings.
    ASSERT_TRUE(helper.WaitForEnd());
    const ULONGLONG ullCpuBefore = CpuTime(helper.Process());
    ASSERT_TRUE(monitor.TickUntil(true, helper.ProcessId()));
    const ULONGLONG ullCpuAfter = CpuTime(helper.Process());
    const int nFinished = monitor.Find(true, helper.ProcessId());
    const ReportedEvent& finished = monitor.m_Events[nFinished];
    EXPECT_LT(monitor.Find(false, helper.ProcessId()), nFinished);
    EXPECT_STREQ(finished.entry.szProgram, tracked.entry.szProgram);
    EXPECT_STREQ(finished.entry.szUser, tracked.entry.szUser);
    EXPECT_EQ(memcmp(&finished.entry.stStart, &tracked.entry.stStart, sizeof(SYSTEMTIME)), 0);
    EXPECT_NE(finished.ullCpuTime, NO_CPU_TIME);
    EXPECT_GE(finished.ullCpuTime, ullCpuBefore);
    EXPECT_LE(finished.ullCpuTime, ullCpuAfter);
    EXPECT_EQ(finished.bActivity, NO_ACTIVITY);
    EXPECT_GT(finished.entry.nTicks, nTicks);
    EXPECT_EQ(ListedEntry(monitor, helper.ProcessId()), nullptr);
}

TEST(Tick, ReusedIdIsTrackedBeforeTheOldProgramFinishesWithItsKeptHandlesCpuTime)
{
    CRecordingMonitor monitor(true);
    monitor.Tick(false);
    monitor.m_Events.clear();

    // The listed entry of this process now stands for a program that has
    // gone, whose id this process reuses; it keeps a handle to this process,
    // which has used some processor time.
    ProcessEntry& own = *ListedEntry(monitor, GetCurrentProcessId());
    CloseHandle(own.hProcess);
    const HANDLE hKept = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
    ASSERT_NE(hKept, nullptr);
    own.hProcess = hKept;
    lstrcpyA(own.szProgram, "C:\\GONE\\OLD.EXE");
    own.nActiveTicks = 1;
    own.nTicks = 3;
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < 200)
        ;
    const ULONGLONG ullCpuBefore = CpuTime(GetCurrentProcess());
    ASSERT_GT(ullCpuBefore, 0u);

    // The quick test does not look at paths: only a forced tick sees it.
    monitor.Tick(true);
    const int nTracked = monitor.Find(false, GetCurrentProcessId());
    const int nFinished = monitor.Find(true, GetCurrentProcessId());
    ASSERT_GE(nTracked, 0);
    ASSERT_GE(nFinished, 0);
    EXPECT_LT(nTracked, nFinished);
    EXPECT_EQ(monitor.m_Events[nTracked].entry.szProgram, Canonical(OwnPath()));
    const ReportedEvent& finished = monitor.m_Events[nFinished];
    EXPECT_STREQ(finished.entry.szProgram, "C:\\GONE\\OLD.EXE");
    EXPECT_EQ(finished.bActivity, 33);
    EXPECT_GE(finished.ullCpuTime, ullCpuBefore);
    EXPECT_NE(finished.ullCpuTime, NO_CPU_TIME);
    // The counters of the finish do not include this tick.
    EXPECT_EQ(finished.entry.nTicks, 3);
    // The kept handle was closed with the finish.
    DWORD dwFlags = 0;
    EXPECT_FALSE(GetHandleInformation(hKept, &dwFlags));
}

TEST(Tick, HelperThatHoldsTheForegroundGainsActiveTicksOnEveryPath)
{
    CTestStation station;
    ASSERT_TRUE(station.IsValid());
    CHelper window("window", 60000);
    ASSERT_TRUE(window.WaitForForeground());
    CHelper sleeper("sleep", 60000);

    CRecordingMonitor allStations(true);
    CRecordingMonitor currentDesktop(false);
    CRecordingMonitor toolhelp(true, PLATFORM_9X);
    struct
    {
        const char*        pszWhat;
        CRecordingMonitor& monitor;
    } paths[] = {
        { "every station and desktop", allStations },
        { "current desktop", currentDesktop },
        { "Toolhelp", toolhelp },
    };
    const HDESK hOwnDesktop = GetThreadDesktop(GetCurrentThreadId());
    const HWINSTA hOwnStation = GetProcessWindowStation();
    for (const auto& path : paths)
    {
        SCOPED_TRACE(path.pszWhat);
        ASSERT_TRUE(path.monitor.TickUntil(false, window.ProcessId()));
        ASSERT_TRUE(path.monitor.TickUntil(false, sleeper.ProcessId()));
        for (int i = 0; i < 3; ++i)
            path.monitor.Tick(false);
        const ProcessEntry* pWindow = FindEntry(path.monitor.m_Processes, window.ProcessId());
        const ProcessEntry* pSleeper = FindEntry(path.monitor.m_Processes, sleeper.ProcessId());
        ASSERT_NE(pWindow, nullptr);
        ASSERT_NE(pSleeper, nullptr);
        EXPECT_GE(pWindow->nTicks, 4);
        EXPECT_EQ(pWindow->nActiveTicks, pWindow->nTicks);
        EXPECT_GE(pSleeper->nTicks, 4);
        EXPECT_EQ(pSleeper->nActiveTicks, 0);
        // Visiting the other stations and desktops leaves this thread where
        // it was, on its own desktop, for the next sampling.
        EXPECT_EQ(GetThreadDesktop(GetCurrentThreadId()), hOwnDesktop);
        EXPECT_EQ(GetProcessWindowStation(), hOwnStation);
    }

    ASSERT_TRUE(TerminateProcess(window.Process(), 0));
    ASSERT_TRUE(window.WaitForEnd());
    for (const auto& path : paths)
    {
        SCOPED_TRACE(path.pszWhat);
        ASSERT_TRUE(path.monitor.TickUntil(true, window.ProcessId()));
        EXPECT_EQ(path.monitor.m_Events[path.monitor.Find(true, window.ProcessId())].bActivity, 100);
    }
}
