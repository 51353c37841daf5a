// The service framework against the real Service Control Manager, through a
// test service of its own, and the fatal exit of both programs.
#include "Common/Handles.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestFolder.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const char TEST_SERVICE[] = "QFTestService";

struct TraceLine
{
    std::string strThread;   // empty for event lines
    std::string strMessage;  // handle numbers replaced by "H"
};

// Splits the recorded file into lines; "[name](tid): message" lines give
// their thread and message, "event ..." lines stand as they are.
std::vector<TraceLine> ParseTrace(const std::string& strContent, std::string* pstrHandle)
{
    static const std::regex traceLine(R"(^\[QFTestService\]\((\d+)\): (.*)$)");
    static const std::regex handleNumber(R"(\((\d+), (\d+)\)$)");
    std::vector<TraceLine> lines;
    std::istringstream input(strContent);
    std::string strLine;
    while (std::getline(input, strLine))
    {
        std::smatch match;
        if (std::regex_match(strLine, match, traceLine))
        {
            std::string strMessage = match[2];
            std::smatch handle;
            if (std::regex_search(strMessage, handle, handleNumber))
            {
                *pstrHandle = handle[1];
                strMessage = handle.prefix().str() + "(H, " + handle[2].str() + ")";
            }
            lines.push_back({ match[1], strMessage });
        }
        else
            lines.push_back({ "", strLine });
    }
    return lines;
}

class ServiceRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveServiceTraces(TEST_SERVICE);
        DeleteFileA(m_strTracePath.c_str());
    }
    void TearDown() override
    {
        RemoveServiceTraces(TEST_SERVICE);
        DeleteFileA(m_strTracePath.c_str());
    }

    const std::string m_strProgram = ProgramPath("QFTestService.exe");
    const std::string m_strTracePath = m_strProgram + ".trace";
};
}  // namespace

TEST_F(ServiceRunTest, ControlsReachTheHooksAndTheStatesFollowInOrder)
{
    ProgramResult install = RunProgram(m_strProgram, "-i");
    EXPECT_EQ("QFTestService installed\n", install.strOut);
    // Only the service run is looked at below.
    DeleteFileA(m_strTracePath.c_str());

    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(hScm);
    CScHandle hService(OpenServiceA(hScm.Get(), TEST_SERVICE,
                                    SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                                        SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(hService);
    ASSERT_TRUE(StartServiceA(hService.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForServiceState(TEST_SERVICE, SERVICE_RUNNING));
    CHandle hProcess(OpenServiceProcess(TEST_SERVICE));
    ASSERT_TRUE(hProcess);

    SERVICE_STATUS status = {};
    EXPECT_TRUE(ControlService(hService.Get(), SERVICE_CONTROL_INTERROGATE, &status)) << GetLastError();
    // The service accepts only the stop control, so the SCM may refuse to
    // pass pause and continue on; whatever it passes reaches the hooks.
    bool bPaused = ControlService(hService.Get(), SERVICE_CONTROL_PAUSE, &status) != FALSE;
    bool bContinued = ControlService(hService.Get(), SERVICE_CONTROL_CONTINUE, &status) != FALSE;
    EXPECT_TRUE(ControlService(hService.Get(), 200, &status)) << GetLastError();
    EXPECT_TRUE(ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    // The base Run notices the stop within its 5-second sleep.
    ASSERT_TRUE(WaitForServiceState(TEST_SERVICE, SERVICE_STOPPED));
    DWORD dwExitCode = 0xFFFFFFFF;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryServiceState(TEST_SERVICE, &dwExitCode));
    EXPECT_EQ(0u, dwExitCode);
    hService.Close();

    // The process ends soon after its stopped report; its last lines follow.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), 30000));
    std::string strHandle;
    std::vector<TraceLine> lines = ParseTrace(ReadWholeFile(m_strTracePath), &strHandle);

    ProgramResult remove = RunProgram(m_strProgram, "-u");
    EXPECT_EQ("QFTestService removed. (You must delete the file (" + m_strProgram + ") yourself.)\n", remove.strOut);

    std::vector<std::string> expected = {
        "Calling StartServiceCtrlDispatcher()",
        "Entering CNTService::ServiceMain()",
        "Entering CNTService::Initialize()",
        "CNTService::SetStatus(H, 2)",
        "CNTService::OnInit()",
        "event 105 type 4 texts 0 ",
        "CNTService::SetStatus(H, 4)",
        "Leaving CNTService::Initialize()",
        "Entering CNTService::Run()",
        "CNTService::Handler(4)",
        "CNTService::OnInterrogate()",
        "Updating status (H, 4)",
    };
    if (bPaused)
        expected.insert(expected.end(), { "CNTService::Handler(2)", "CNTService::OnPause()", "Updating status (H, 4)" });
    if (bContinued)
        expected.insert(expected.end(),
                        { "CNTService::Handler(3)", "CNTService::OnContinue()", "Updating status (H, 4)" });
    expected.insert(expected.end(), {
        "CNTService::Handler(200)",
        "CNTService::OnUserControl(000000C8H)",
        "event 106 type 1 texts 0 ",
        "Updating status (H, 4)",
        "CNTService::Handler(1)",
        "CNTService::SetStatus(H, 3)",
        "CNTService::OnStop()",
        "event 108 type 4 texts 0 ",
        "Updating status (H, 3)",
        "Leaving CNTService::Run()",
        "Leaving CNTService::ServiceMain()",
        "CNTService::SetStatus(H, 1)",
        "Returned from StartServiceCtrlDispatcher()",
        "CNTService::~CNTService()",
    });

    // The base Run's "Sleeping..." lines come every 5 s, wherever they fall.
    std::vector<std::string> messages;
    size_t nSleeping = 0;
    for (const TraceLine& line : lines)
    {
        if (line.strMessage == "Sleeping...")
            ++nSleeping;
        else
            messages.push_back(line.strMessage);
    }
    EXPECT_EQ(expected, messages);
    EXPECT_GE(nSleeping, 1u);
    EXPECT_NE("0", strHandle);

    // The service's work runs on a thread of the dispatcher's, not on the
    // one that called it.
    std::string strDispatcherThread, strRunThread;
    for (const TraceLine& line : lines)
    {
        if (line.strMessage == "Calling StartServiceCtrlDispatcher()")
            strDispatcherThread = line.strThread;
        if (line.strMessage == "Entering CNTService::Run()")
            strRunThread = line.strThread;
    }
    EXPECT_NE(strDispatcherThread, strRunThread);
}

TEST_F(ServiceRunTest, VerbsReportInstallAndRemoveOnlyAsTheFirstArgument)
{
    const std::string strInstalled = "The service is currently installed\n";
    const std::string strNotInstalled = "The service is not installed\n";
    struct Step
    {
        const char* pszArguments;
        std::string strOut;
        bool        bInstalledAfter;
    };
    const Step steps[] = {
        { "", "", false },
        { "-x -i", "", false },
        { "-v", "QFTestService Version 1.5\n" + strNotInstalled, false },
        { "-u", "QFTestService is not installed\n", false },
        { "-I", "QFTestService installed\n", true },
        { "-i", "QFTestService is already installed\n", true },
        { "-V", "QFTestService Version 1.5\n" + strInstalled, true },
        { "-U", "QFTestService removed. (You must delete the file (" + m_strProgram + ") yourself.)\n", false },
    };
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.pszArguments);
        // Without a verb the program tries the dispatcher, which fails at once
        // outside the SCM.
        ProgramResult result = RunProgram(m_strProgram, step.pszArguments);
        EXPECT_FALSE(result.bTimedOut);
        EXPECT_EQ(step.strOut, result.strOut);
        EXPECT_EQ("", result.strErr);
        EXPECT_EQ(step.bInstalledAfter, QueryServiceState(TEST_SERVICE) != 0);
    }

    // Installing made the service an event source that names its program as
    // the message file; removing leaves the source.
    CRegKey hKey;
    HKEY hKeyRaw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                           "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QFTestService",
                                           0, KEY_QUERY_VALUE, &hKeyRaw));
    hKey.Reset(hKeyRaw);
    char szFile[MAX_PATH + 1] = "";
    DWORD dwType = 0, cbData = sizeof szFile;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey.Get(), "EventMessageFile", nullptr, &dwType,
                                              reinterpret_cast<BYTE*>(szFile), &cbData));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
    EXPECT_EQ(m_strProgram, szFile);
    EXPECT_EQ(m_strProgram.size() + 1, cbData);
    DWORD dwTypes = 0;
    cbData = sizeof dwTypes;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(hKey.Get(), "TypesSupported", nullptr, &dwType,
                                              reinterpret_cast<BYTE*>(&dwTypes), &cbData));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), dwType);
    EXPECT_EQ(7u, dwTypes);
}

TEST(FatalExit, WritesOneLineAndEndsWithStatusOne)
{
    struct Case
    {
        const char* pszArguments;
        const char* pszLine;
    };
    const Case cases[] = {
        { "5 CreateWaitableTimer", "Error: 5 Reason: CreateWaitableTimer\n" },
        { "4294967295 \"CreateEvent (Stop)\"", "Error: 4294967295 Reason: CreateEvent (Stop)\n" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszArguments);
        ProgramResult result = RunProgram(ProgramPath("FatalExit.exe"), c.pszArguments);
        EXPECT_EQ(1u, result.dwExitCode);
        EXPECT_EQ(c.pszLine, result.strErr);
        // The ordinary exit: process-wide destructors ran.
        EXPECT_EQ("process-wide objects destroyed\n", result.strOut);
    }
}
