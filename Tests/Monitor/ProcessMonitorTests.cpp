// Snapshots and their diff against the real process list of the test's Wine
// prefix, on the PSAPI path and, through the test constructor, on Toolhelp.
#include "Client/WinNT/ProcessMonitor.h"
#include "Common/Records/EventLine.h"
#include "Tests/Monitor/MonitorTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
constexpr DWORD PLATFORM_9X = VER_PLATFORM_WIN32_WINDOWS;
// No process has this id: ids are multiples of 4 and far smaller.
constexpr DWORD GHOST_ID = 0xFFFFFFF2;

std::vector<ProcessEntry> Entries(const CProcessList& list)
{
    std::vector<ProcessEntry> entries;
    for (UINT i = 0; i < list.GetCount(); ++i)
        entries.push_back(list[i]);
    return entries;
}

bool SameBytes(const std::vector<ProcessEntry>& a, const std::vector<ProcessEntry>& b)
{
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(ProcessEntry)) == 0;
}

std::string OwnUser()
{
    char szUser[130] = "";
    DWORD cch = sizeof szUser;
    GetUserNameA(szUser, &cch);
    return szUser;
}

// Minutes between a local start time and now.
double MinutesSince(const SYSTEMTIME& stStart)
{
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    FILETIME ftStart, ftNow;
    if (!SystemTimeToFileTime(&stStart, &ftStart) || !SystemTimeToFileTime(&stNow, &ftNow))
        return -1;
    auto Count = [](const FILETIME& ft) { return (LONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    return double(Count(ftNow) - Count(ftStart)) / 600000000.0;
}

// What one quick test and update gave, copied out of the monitor.
struct UpdateOutcome
{
    bool                      bChanged = false;
    bool                      bReported = false;
    std::vector<ProcessEntry> started;
    std::vector<ProcessEntry> finished;
    std::vector<ProcessEntry> listed;  // the list afterwards
};

UpdateOutcome RunUpdate(CProcessMonitor& monitor, bool bForce)
{
    UpdateOutcome outcome;
    outcome.bChanged = monitor.HasChanged();
    CProcessList started, finished;
    started.Append(ProcessEntry{});
    finished.Append(ProcessEntry{});
    outcome.bReported = monitor.Update(bForce, started, finished);
    outcome.started = Entries(started);
    outcome.finished = Entries(finished);
    outcome.listed = Entries(monitor.m_Processes);
    // The test stands in for the tick, which closes the handles of finishes.
    for (const ProcessEntry& entry : outcome.finished)
    {
        if (entry.hProcess)
            CloseHandle(entry.hProcess);
    }
    return outcome;
}

// An update that reported nothing and left the list as expected.
void ExpectNoReport(const UpdateOutcome& outcome, bool bChanged, const std::vector<ProcessEntry>& expected)
{
    EXPECT_EQ(outcome.bChanged, bChanged);
    EXPECT_FALSE(outcome.bReported);
    EXPECT_TRUE(outcome.started.empty());
    EXPECT_TRUE(outcome.finished.empty());
    EXPECT_TRUE(SameBytes(outcome.listed, expected));
}

// Brings the monitor's list up to date with whatever happened meanwhile.
void CatchUp(CProcessMonitor& monitor)
{
    RunUpdate(monitor, true);
}

// Once the list is up to date and nothing starts or ends, the quick test
// sees no change and the update reports nothing and changes nothing.
void ExpectNothingChanged(CProcessMonitor& monitor)
{
    std::vector<ProcessEntry> before;
    UpdateOutcome outcome;
    ASSERT_TRUE(RunWhileQuiet([&] {
        CatchUp(monitor);
        before = Entries(monitor.m_Processes);
        outcome = RunUpdate(monitor, false);
    }));
    ExpectNoReport(outcome, false, before);
}

ProcessEntry& OwnEntry(CProcessMonitor& monitor)
{
    return *const_cast<ProcessEntry*>(FindEntry(monitor.m_Processes, GetCurrentProcessId()));
}
}  // namespace

TEST(ProcessMonitor, BindsThePlatformFunctionsOrStaysUnusable)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        ;

    CProcessMonitor psapi(true);
    EXPECT_EQ(g_dwPlatformId, info.dwPlatformId);
    EXPECT_TRUE(psapi.IsUsable());
    CProcessMonitor toolhelp(true, PLATFORM_9X);
    EXPECT_TRUE(toolhelp.IsUsable());
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    // An unknown platform: a quit request nobody reads, and a monitor that
    // reports nothing and samples nothing.
    CRecordingMonitor unknown(true, 3);
    EXPECT_FALSE(unknown.IsUsable());
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(g_dwPlatformId, info.dwPlatformId);

    CProcessList started, finished;
    started.Append(ProcessEntry{});
    EXPECT_FALSE(unknown.HasChanged());
    EXPECT_FALSE(unknown.Update(true, started, finished));
    EXPECT_EQ(started.GetCount(), 0u);
    unknown.Tick(true);
    EXPECT_TRUE(unknown.m_Events.empty());
    EXPECT_EQ(unknown.m_Processes.GetCount(), 0u);
}

TEST(ProcessMonitor, FirstUpdateReportsEveryNamedProcessThenNothingUntilSomethingChanges)
{
    CProcessMonitor monitor(true);
    CProcessList started, finished;
    ASSERT_TRUE(monitor.Update(false, started, finished));
    EXPECT_EQ(finished.GetCount(), 0u);

    // Every named entry of the snapshot is reported once; nameless ones are not.
    UINT nNamed = 0;
    for (UINT i = 0; i < monitor.m_Processes.GetCount(); ++i)
    {
        const ProcessEntry& listed = monitor.m_Processes[i];
        const ProcessEntry* pStarted = FindEntry(started, listed.dwProcessId);
        if (!listed.szProgram[0])
        {
            EXPECT_EQ(pStarted, nullptr);
            continue;
        }
        ++nNamed;
        ASSERT_NE(pStarted, nullptr) << listed.szProgram;
        EXPECT_EQ(memcmp(pStarted, &listed, sizeof listed), 0) << listed.szProgram;
    }
    EXPECT_EQ(started.GetCount(), nNamed);

    const ProcessEntry* pOwn = FindEntry(started, GetCurrentProcessId());
    ASSERT_NE(pOwn, nullptr);
    EXPECT_STREQ(pOwn->szProgram, OwnPath().c_str());
    EXPECT_STREQ(pOwn->szUser, OwnUser().c_str());
    EXPECT_NE(pOwn->hProcess, nullptr);
    double dMinutes = MinutesSince(pOwn->stStart);
    EXPECT_GE(dMinutes, 0.0);
    EXPECT_LT(dMinutes, 10.0);
    EXPECT_EQ(pOwn->nTicks, 0);

    // Nothing started or ended since: no report, and the list as it was.
    ExpectNothingChanged(monitor);
}

TEST(ProcessMonitor, ReorderedListReportsNothingAndTakesTheEnumerationOrder)
{
    CProcessMonitor monitor(true);
    std::vector<ProcessEntry> expected;
    UpdateOutcome outcome;
    ASSERT_TRUE(RunWhileQuiet([&] {
        CatchUp(monitor);
        // Each entry marked, to see that it stays with its own process.
        expected = Entries(monitor.m_Processes);
        CProcessList reversed;
        for (UINT i = 0; i < expected.size(); ++i)
        {
            expected[i].nTicks = 1000 + i;
            expected[i].nActiveTicks = i;
        }
        for (auto it = expected.rbegin(); it != expected.rend(); ++it)
            reversed.Append(*it);
        monitor.m_Processes = reversed;
        outcome = RunUpdate(monitor, false);
    }));
    ASSERT_GE(expected.size(), 2u);
    ExpectNoReport(outcome, true, expected);
}

TEST(ProcessMonitor, IdentifiesAProcessByItsIdAndRawPath)
{
    const std::string strOwn = OwnPath();
    const std::string strOwnLower = [&] {
        std::string str = strOwn;
        CharLowerBuffA(&str[0], static_cast<DWORD>(str.size()));
        return str;
    }();
    ASSERT_NE(strOwnLower, strOwn);

    struct
    {
        const char* pszWhat;
        bool        bAppendGhost;    // else this process's entry is changed
        const char* pszPath;         // path given to that entry
        bool        bQuickTestSees;  // else the update is forced
        bool        bOwnStarted;
        const char* pszFinished;     // path reported finished, or null
    } cases[] = {
        { "id now used by another program", false, "C:\\gone\\old.exe", false, true, "C:\\gone\\old.exe" },
        { "path differs in case only", false, strOwnLower.c_str(), false, true, strOwnLower.c_str() },
        { "name has become readable", false, "", true, true, nullptr },
        { "named process gone", true, "C:\\gone\\ghost.exe", true, false, "C:\\gone\\ghost.exe" },
        { "nameless process gone", true, "", true, false, nullptr },
    };
    CProcessMonitor monitor(true);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        HANDLE hKept = nullptr;
        UpdateOutcome outcome;
        ASSERT_TRUE(RunWhileQuiet([&] {
            CatchUp(monitor);
            ProcessEntry& own = OwnEntry(monitor);
            hKept = own.hProcess;
            if (c.bAppendGhost)
            {
                ProcessEntry ghost = {};
                ghost.dwProcessId = GHOST_ID;
                lstrcpyA(ghost.szProgram, c.pszPath);
                monitor.m_Processes.Append(ghost);
            }
            else
            {
                lstrcpyA(own.szProgram, c.pszPath);
            }
            outcome = RunUpdate(monitor, !c.bQuickTestSees);
        }));

        EXPECT_EQ(outcome.bChanged, c.bQuickTestSees);
        EXPECT_EQ(outcome.bReported, c.bOwnStarted || c.pszFinished);
        ASSERT_EQ(outcome.started.size(), c.bOwnStarted ? 1u : 0u);
        if (c.bOwnStarted)
        {
            EXPECT_EQ(outcome.started[0].dwProcessId, GetCurrentProcessId());
            EXPECT_STREQ(outcome.started[0].szProgram, strOwn.c_str());
            EXPECT_NE(outcome.started[0].hProcess, nullptr);
            EXPECT_NE(outcome.started[0].hProcess, hKept);
        }
        ASSERT_EQ(outcome.finished.size(), c.pszFinished ? 1u : 0u);
        if (c.pszFinished)
        {
            EXPECT_STREQ(outcome.finished[0].szProgram, c.pszFinished);
            // The finished copy carries the handle kept for its CPU time.
            EXPECT_EQ(outcome.finished[0].hProcess, c.bAppendGhost ? nullptr : hKept);
        }
        // In every case the list is the true one again, the ghost gone.
        EXPECT_EQ(FindEntry(monitor.m_Processes, GHOST_ID), nullptr);
        EXPECT_STREQ(OwnEntry(monitor).szProgram, strOwn.c_str());
    }
}

TEST(ProcessMonitor, UpdateThatRunsOutOfMemoryChangesNothing)
{
    CProcessMonitor monitor(true);
    CProcessList started, finished;
    ASSERT_TRUE(monitor.Update(false, started, finished));
    ProcessEntry ghost = {};
    ghost.dwProcessId = GHOST_ID;
    lstrcpyA(ghost.szProgram, "C:\\gone\\ghost.exe");
    monitor.m_Processes.Append(ghost);
    lstrcpyA(OwnEntry(monitor).szProgram, "");
    const std::vector<ProcessEntry> before = Entries(monitor.m_Processes);

    // Fail each allocation of the update in turn, until one runs through.
    int nFailures = 0;
    for (int nSucceeding = 0; nSucceeding < 1000; ++nSucceeding)
    {
        CItemArray::FailAllocationAfter(nSucceeding);
        bool bReported = monitor.Update(false, started, finished);
        CItemArray::FailAllocationAfter(-1);
        if (bReported)
            break;
        ++nFailures;
        ASSERT_EQ(started.GetCount(), 0u) << nSucceeding;
        ASSERT_EQ(finished.GetCount(), 0u) << nSucceeding;
        ASSERT_TRUE(SameBytes(Entries(monitor.m_Processes), before)) << nSucceeding;
    }
    EXPECT_GT(nFailures, 0);
    EXPECT_NE(FindEntry(finished, GHOST_ID), nullptr);
    EXPECT_NE(FindEntry(started, GetCurrentProcessId()), nullptr);
    EXPECT_EQ(FindEntry(monitor.m_Processes, GHOST_ID), nullptr);
}

TEST(ProcessMonitor, ToolhelpTracksAndFinishesHelpersWithoutCpuTime)
{
    CRecordingMonitor monitor(true, PLATFORM_9X);
    ASSERT_TRUE(monitor.IsUsable());
    CProcessList started, finished;
    ASSERT_TRUE(monitor.Update(false, started, finished));
    EXPECT_EQ(finished.GetCount(), 0u);
    const ProcessEntry* pOwn = FindEntry(started, GetCurrentProcessId());
    ASSERT_NE(pOwn, nullptr);
    // Toolhelp names the program by its file name; there is no owner, no
    // handle, and the start is when the process was first seen.
    const std::string strOwn = OwnPath();
    EXPECT_STREQ(pOwn->szProgram, strOwn.substr(strOwn.find_last_of('\\') + 1).c_str());
    EXPECT_STREQ(pOwn->szUser, "");
    EXPECT_EQ(pOwn->hProcess, nullptr);
    double dMinutes = MinutesSince(pOwn->stStart);
    EXPECT_GE(dMinutes, 0.0);
    EXPECT_LT(dMinutes, 1.0);
    ExpectNothingChanged(monitor);

    CHelper helper("burn", 300);
    ASSERT_TRUE(monitor.TickUntil(false, helper.ProcessId()));
    const int nTracked = monitor.Find(false, helper.ProcessId());
    EXPECT_STREQ(monitor.m_Events[nTracked].entry.szProgram, "MonitorHelper.exe");
    EXPECT_EQ(monitor.m_Events[nTracked].entry.hProcess, nullptr);

    ASSERT_TRUE(helper.WaitForEnd());
    ASSERT_TRUE(monitor.TickUntil(true, helper.ProcessId()));
    const int nFinished = monitor.Find(true, helper.ProcessId());
    const ReportedEvent& tracked = monitor.m_Events[nTracked];
    const ReportedEvent& finishedEvent = monitor.m_Events[nFinished];
    EXPECT_LT(nTracked, nFinished);
    EXPECT_STREQ(finishedEvent.entry.szProgram, "MonitorHelper.exe");
    EXPECT_EQ(finishedEvent.ullCpuTime, NO_CPU_TIME);
    EXPECT_EQ(finishedEvent.bActivity, NO_ACTIVITY);
    EXPECT_GT(finishedEvent.entry.nTicks, 0);
    EXPECT_EQ(memcmp(&finishedEvent.entry.stStart, &tracked.entry.stStart, sizeof(SYSTEMTIME)), 0);
}
