// The service base class in-process: the control dispatch, the start-up
// sequence outside the SCM, the status fields and the trace line.
#include "Common/Service/NTService.h"
#include "Tests/Support/TraceCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{
struct ReportedEvent
{
    WORD        wType;
    DWORD       dwId;
    WORD        wTexts;
    std::string strText1;
};

std::vector<ReportedEvent> g_events;

void RecordEvent(WORD wType, DWORD dwEventId, WORD wTextCount, const char* pszText1)
{
    g_events.push_back({ wType, dwEventId, wTextCount, pszText1 ? pszText1 : "" });
}

std::vector<DWORD> EventIds()
{
    std::vector<DWORD> ids;
    for (const ReportedEvent& event : g_events)
        ids.push_back(event.dwId);
    return ids;
}

// A service with the base hooks, an optional user-control handler and an
// OnInit whose result and last error the test chooses.
class CProbeService : public CNTService
{
public:
    explicit CProbeService(const char* pszName = "QFProbe") : CNTService(pszName) {}

    bool OnUserControl(DWORD dwOpcode) override
    {
        if (!m_bHandlesUserCodes)
            return CNTService::OnUserControl(dwOpcode);
        m_dwUserCode = dwOpcode;
        return true;
    }

    bool OnInit() override
    {
        CNTService::OnInit();
        SetLastError(m_dwInitError);
        return m_bInitResult;
    }

    bool  m_bHandlesUserCodes = false;
    DWORD m_dwUserCode = 0;
    bool  m_bInitResult = true;
    DWORD m_dwInitError = 0;
};

// The trace lines without their "[name](thread): " prefix and line feed,
// after checking both on every line.
std::vector<std::string> Messages(const CTraceCapture& capture, const char* pszName)
{
    std::string strPrefix = std::string("[") + pszName + "](" + std::to_string(GetCurrentThreadId()) + "): ";
    std::vector<std::string> messages;
    for (const std::string& strLine : capture.Lines())
    {
        EXPECT_EQ(0u, strLine.find(strPrefix)) << strLine;
        EXPECT_EQ('\n', strLine.back()) << strLine;
        messages.push_back(strLine.substr(strPrefix.size(), strLine.size() - strPrefix.size() - 1));
    }
    return messages;
}

class NTServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_events.clear();
        g_pfnServiceEventObserver = RecordEvent;
    }
    void TearDown() override { g_pfnServiceEventObserver = nullptr; }
};
}  // namespace

TEST_F(NTServiceTest, ConstructionSetsTheStatusAndCutsTheName)
{
    std::string strLong(100, 'n');
    CProbeService service(strLong.c_str());
    EXPECT_EQ(strLong.substr(0, 63), service.m_szName);
    EXPECT_EQ(&service, g_pService);
    EXPECT_EQ(0u, service.m_dwTypeFlags);
    EXPECT_FALSE(service.m_bAutoStart);
    EXPECT_EQ(nullptr, service.m_hStatus);
    EXPECT_EQ(0, service.m_bKeepRunning);
    const SERVICE_STATUS& status = service.m_ServiceStatus;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP), status.dwControlsAccepted);
    EXPECT_EQ(0u, status.dwWin32ExitCode + status.dwServiceSpecificExitCode + status.dwCheckPoint + status.dwWaitHint);
}

TEST_F(NTServiceTest, TraceLineIsFormattedAndCutToItsBuffer)
{
    std::string strName(63, 'n');
    CProbeService service(strName.c_str());
    CTraceCapture capture;
    service.Trace("value %d, text %s, code %8.8lXH", 42, "abc", 0xBEEFUL);
    std::string strLong(3000, 'x');
    service.Trace("%s", strLong.c_str());

    std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(2u, lines.size());
    std::string strPrefix = "[" + strName + "](" + std::to_string(GetCurrentThreadId()) + "): ";
    EXPECT_EQ(strPrefix + "value 42, text abc, code 0000BEEFH\n", lines[0]);
    // 1023 characters and the terminator fill the 1024-byte line buffer.
    ASSERT_EQ(1023u, lines[1].size());
    EXPECT_EQ(strPrefix + std::string(1022 - strPrefix.size(), 'x') + "\n", lines[1]);
}

TEST_F(NTServiceTest, HandlerActsOnEveryControlCodeAndReportsTheStatusAgain)
{
    struct Case
    {
        DWORD                    dwCode;
        bool                     bHandlesUserCodes;
        std::vector<std::string> messages;
        std::vector<DWORD>       events;
        DWORD                    dwStateAfter;
    };
    const Case cases[] = {
        { 0, false, { "CNTService::Handler(0)", "Updating status (0, 4)" }, { 106 }, SERVICE_RUNNING },
        { 1, false,
          { "CNTService::Handler(1)", "CNTService::SetStatus(0, 3)", "CNTService::OnStop()", "Updating status (0, 3)" },
          { 108 }, SERVICE_STOP_PENDING },
        { 2, false, { "CNTService::Handler(2)", "CNTService::OnPause()", "Updating status (0, 4)" }, {}, SERVICE_RUNNING },
        { 3, false, { "CNTService::Handler(3)", "CNTService::OnContinue()", "Updating status (0, 4)" }, {},
          SERVICE_RUNNING },
        { 4, false, { "CNTService::Handler(4)", "CNTService::OnInterrogate()", "Updating status (0, 4)" }, {},
          SERVICE_RUNNING },
        { 5, false, { "CNTService::Handler(5)", "CNTService::OnShutdown()", "Updating status (0, 4)" }, {},
          SERVICE_RUNNING },
        { 6, false, { "CNTService::Handler(6)", "Updating status (0, 4)" }, { 106 }, SERVICE_RUNNING },
        { 127, true, { "CNTService::Handler(127)", "Updating status (0, 4)" }, { 106 }, SERVICE_RUNNING },
        { 128, false,
          { "CNTService::Handler(128)", "CNTService::OnUserControl(00000080H)", "Updating status (0, 4)" }, { 106 },
          SERVICE_RUNNING },
        { 0xABCDEF01, false,
          { "CNTService::Handler(2882400001)", "CNTService::OnUserControl(ABCDEF01H)", "Updating status (0, 4)" },
          { 106 }, SERVICE_RUNNING },
        { 255, true, { "CNTService::Handler(255)", "Updating status (0, 4)" }, {}, SERVICE_RUNNING },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.dwCode);
        CProbeService service;
        service.m_bHandlesUserCodes = c.bHandlesUserCodes;
        service.m_ServiceStatus.dwCurrentState = SERVICE_RUNNING;
        service.m_bKeepRunning = 1;
        g_events.clear();
        {
            CTraceCapture capture;
            CNTService::Handler(c.dwCode);
            EXPECT_EQ(c.messages, Messages(capture, "QFProbe"));
        }
        EXPECT_EQ(c.events, EventIds());
        for (const ReportedEvent& event : g_events)
        {
            EXPECT_EQ(event.dwId == 108 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, event.wType);
            EXPECT_EQ(0u, event.wTexts);
        }
        EXPECT_EQ(c.dwStateAfter, service.m_ServiceStatus.dwCurrentState);
        EXPECT_EQ(c.dwCode == SERVICE_CONTROL_STOP ? 0 : 1, service.m_bKeepRunning);
        EXPECT_EQ(c.bHandlesUserCodes && c.dwCode >= 128 ? c.dwCode : 0u, service.m_dwUserCode);
    }
}

TEST_F(NTServiceTest, ServiceMainOutsideTheScmEndsAtTheFailedRegistration)
{
    CProbeService service;
    CTraceCapture capture;
    CNTService::ServiceMain(0, nullptr);
    EXPECT_EQ(std::vector<std::string>{ "Entering CNTService::ServiceMain()" }, Messages(capture, "QFProbe"));
    EXPECT_EQ(std::vector<DWORD>{ 103 }, EventIds());
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, g_events.at(0).wType);
    EXPECT_EQ(nullptr, service.m_hStatus);
    EXPECT_EQ(0, service.m_bKeepRunning);
}

TEST_F(NTServiceTest, InitializeReportsTheOutcomeOfOnInitWithItsLastError)
{
    struct Case
    {
        bool                     bInitResult;
        std::vector<std::string> messages;
        DWORD                    dwEvent;
        DWORD                    dwState;
    };
    const Case cases[] = {
        { true,
          { "Entering CNTService::Initialize()", "CNTService::SetStatus(0, 2)", "CNTService::OnInit()",
            "CNTService::SetStatus(0, 4)", "Leaving CNTService::Initialize()" },
          105, SERVICE_RUNNING },
        { false, { "Entering CNTService::Initialize()", "CNTService::SetStatus(0, 2)", "CNTService::OnInit()" }, 104,
          SERVICE_STOPPED },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.bInitResult);
        CProbeService service;
        service.m_bInitResult = c.bInitResult;
        service.m_dwInitError = ERROR_FILE_NOT_FOUND;
        g_events.clear();
        CTraceCapture capture;
        EXPECT_EQ(c.bInitResult, service.Initialize());
        EXPECT_EQ(c.messages, Messages(capture, "QFProbe"));
        EXPECT_EQ(std::vector<DWORD>{ c.dwEvent }, EventIds());
        EXPECT_EQ(c.dwState, service.m_ServiceStatus.dwCurrentState);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), service.m_ServiceStatus.dwWin32ExitCode);
    }
}

TEST_F(NTServiceTest, EventsPassOnlyTheTextsGivenThroughOneSource)
{
    CProbeService service;
    service.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 100, "QFProbe");
    service.ReportServiceEvent(EVENTLOG_ERROR_TYPE, 102, nullptr, "second");
    service.ReportServiceEvent(EVENTLOG_ERROR_TYPE, 106);
    ASSERT_EQ(3u, g_events.size());
    EXPECT_EQ(1u, g_events[0].wTexts);
    EXPECT_EQ("QFProbe", g_events[0].strText1);
    // A null first text never reaches the event log: the others move up.
    EXPECT_EQ(1u, g_events[1].wTexts);
    EXPECT_EQ("second", g_events[1].strText1);
    EXPECT_EQ(0u, g_events[2].wTexts);

    // Both threads of a running service may open the source first; one
    // handle is kept whichever wins.
    g_pfnServiceEventObserver = nullptr;
    CProbeService raced;
    HANDLE hSeen[2] = {};
    std::thread other([&] {
        raced.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 105);
        hSeen[0] = raced.m_hEventLog;
    });
    raced.ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, 108);
    hSeen[1] = raced.m_hEventLog;
    other.join();
    EXPECT_NE(nullptr, raced.m_hEventLog);
    EXPECT_EQ(raced.m_hEventLog, hSeen[0]);
    EXPECT_EQ(raced.m_hEventLog, hSeen[1]);
}
