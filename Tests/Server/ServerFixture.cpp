#include "Tests/Server/ServerFixture.h"

#include "Common/Handles.h"
#include "Common/Records/EventLine.h"
#include "Tests/Server/TestClient.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestProcess.h"

namespace
{
const char SERVICE_NAME[] = "Quillfen";
}

void CServerFixture::SetUp()
{
    // Lines are expected as the server renders them: the same platform id.
    OSVERSIONINFOA osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    GetVersionExA(&osvi);
    g_dwPlatformId = osvi.dwPlatformId;
    RemoveServiceTraces(SERVICE_NAME);
}

void CServerFixture::TearDown()
{
    RemoveServiceTraces(SERVICE_NAME);
}

void CServerFixture::StartServer(const std::string& strOptions)
{
    std::string strServer = ProgramPath("QFServer.exe");
    ProgramResult settings = RunProgram(strServer, "-PATH \"'" + m_Folder.Path() + "'\" " + strOptions);
    ASSERT_EQ(settings.strErr, "");
    ProgramResult install = RunProgram(strServer, "-I");
    ASSERT_EQ(install.strOut, "Quillfen installed\n");

    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(hScm);
    CScHandle hService(OpenServiceA(hScm.Get(), SERVICE_NAME, SERVICE_START));
    ASSERT_TRUE(hService);
    ASSERT_TRUE(StartServiceA(hService.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForServiceState(SERVICE_NAME, SERVICE_RUNNING));

    // Running is reported before the server listens: wait until it accepts.
    DWORD dwStart = GetTickCount();
    CTestClient probe;
    while (!probe.Connect())
    {
        ASSERT_EQ(QueryServiceState(SERVICE_NAME), static_cast<DWORD>(SERVICE_RUNNING)) << "the server ended";
        ASSERT_LT(GetTickCount() - dwStart, 30000u) << "the server does not accept connections";
        Sleep(50);
    }
}

void CServerFixture::StopServer()
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(hScm);
    CScHandle hService(OpenServiceA(hScm.Get(), SERVICE_NAME, SERVICE_STOP));
    ASSERT_TRUE(hService);
    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_TRUE(WaitForServiceState(SERVICE_NAME, SERVICE_STOPPED));
}

std::vector<std::string> CServerFixture::LogLines() const
{
    return SplitLines(ReadWholeFile(LogPath()));
}

std::vector<std::string> SplitLines(const std::string& strText)
{
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < strText.size())
    {
        size_t nEnd = strText.find("\r\n", nStart);
        nEnd = nEnd == std::string::npos ? strText.size() : nEnd + 2;
        lines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd;
    }
    return lines;
}
