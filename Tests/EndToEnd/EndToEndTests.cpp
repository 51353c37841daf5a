// The whole system as an administrator sets it up: the collecting server
// Quillfen and the client QFClient on one machine, the client watching a
// program and delivering its events over loopback.
#include "Common/Handles.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestFolder.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
void StartService(const char* pszName)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(hScm);
    CScHandle hService(OpenServiceA(hScm.Get(), pszName, SERVICE_START));
    ASSERT_TRUE(hService) << pszName;
    ASSERT_TRUE(StartServiceA(hService.Get(), 0, nullptr)) << pszName << ": " << GetLastError();
    ASSERT_TRUE(WaitForServiceState(pszName, SERVICE_RUNNING)) << pszName;
}

// Stops the service and waits until its process has ended: the client
// delivers its queue in a last pass after it has reported stopped.
void StopService(const char* pszName)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(hScm);
    CScHandle hService(OpenServiceA(hScm.Get(), pszName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(hService) << pszName;
    SERVICE_STATUS_PROCESS process = {};
    DWORD cbNeeded = 0;
    ASSERT_TRUE(QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                     sizeof(process), &cbNeeded));
    CHandle hProcess(OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId));
    ASSERT_TRUE(hProcess) << pszName << ": " << GetLastError();

    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) << pszName << ": " << GetLastError();
    ASSERT_TRUE(WaitForServiceState(pszName, SERVICE_STOPPED, 60000)) << pszName;
    ASSERT_EQ(WaitForSingleObject(hProcess.Get(), 120000), WAIT_OBJECT_0) << pszName << " did not end";
}

std::string Lower(std::string strText)
{
    if (!strText.empty())
        CharLowerBuffA(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return Lower(strText).find(Lower(strPart)) != std::string::npos;
}

// Waits until the file holds strPart (in any letter case).
bool WaitForText(const std::string& strPath, const std::string& strPart, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (!Contains(ReadWholeFile(strPath), strPart))
    {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}
}  // namespace

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveServiceTraces("QFClient");
        RemoveServiceTraces("Quillfen");
        CreateDirectoryA(m_Server.File("logs").c_str(), nullptr);
        CreateDirectoryA(m_Client.File("logs").c_str(), nullptr);
    }
    void TearDown() override
    {
        RemoveServiceTraces("QFClient");
        RemoveServiceTraces("Quillfen");
    }

    CTestFolder m_Server;
    CTestFolder m_Client;
};

TEST_F(EndToEnd, ClientEventsReachTheServersLog)
{
    const std::string strServerLog = m_Server.File("logs\\Process.log");
    const std::string strClientLog = m_Client.File("logs\\Process.log");
    const std::string strServer = ProgramPath("QFServer.exe");
    const std::string strClient = ProgramPath("qfnt.exe");

    ASSERT_EQ(RunProgram(strServer, "-PATH " + m_Server.File("logs")).strErr, "");
    ASSERT_NE(RunProgram(strServer, "-I").strOut.find("Quillfen installed"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(StartService("Quillfen"));
    ASSERT_TRUE(WaitForText(strServerLog, ",90,\"Server started\"", 30000));

    // The client keeps a local log too: every line it writes must reach the server unchanged.
    ASSERT_EQ(RunProgram(strClient, "-SERVER . -PATH " + m_Client.File("logs")).strErr, "");
    ASSERT_NE(RunProgram(strClient, "-I").strOut.find("QFClient installed"), std::string::npos);
    ASSERT_NO_FATAL_FAILURE(StartService("QFClient"));
    // Its first delivery pass runs at once and sends "Logging started".
    ASSERT_TRUE(WaitForText(strServerLog, ",10,\"Logging started\"", 30000));

    // Long enough to be seen after the client's first tick, 5 s after its start.
    std::string strSample = ProgramPath("QfSample.exe");
    ProgramResult sample = RunProgram(strSample, "8000");
    ASSERT_EQ(sample.dwExitCode, 0u);
    // Its end is noticed at the next tick, 500 ms on.
    ASSERT_TRUE(WaitForText(strClientLog, ",40,Finished,\"" + strSample + "\"", 10000));

    ASSERT_NO_FATAL_FAILURE(StopService("QFClient"));
    ASSERT_NO_FATAL_FAILURE(StopService("Quillfen"));

    std::string strLog = ReadWholeFile(strServerLog);
    EXPECT_TRUE(Contains(strLog, ",30,Tracked,\"" + strSample + "\",")) << strLog;
    EXPECT_TRUE(Contains(strLog, ",40,Finished,\"" + strSample + "\",")) << strLog;
    EXPECT_TRUE(Contains(strLog, ",20,\"Logging stopped\"\r\n")) << strLog;
    EXPECT_TRUE(Contains(strLog, ",100,\"Server stopped\"\r\n")) << strLog;

    std::string strLocal = ReadWholeFile(strClientLog);
    ASSERT_FALSE(strLocal.empty());
    for (size_t nStart = 0; nStart < strLocal.size();)
    {
        size_t nEnd = strLocal.find("\r\n", nStart);
        nEnd = nEnd == std::string::npos ? strLocal.size() : nEnd + 2;
        std::string strLine = strLocal.substr(nStart, nEnd - nStart);
        EXPECT_NE(strLog.find(strLine), std::string::npos) << "not delivered: " << strLine;
        nStart = nEnd;
    }
}
