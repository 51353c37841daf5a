// QFServer: changes the settings, prints the usage text or acts on a service
// verb from a command prompt; started by the SCM, runs the service Quillfen.
#include "Common/Records/EventLine.h"
#include "Common/Service/ConsoleStreams.h"
#include "Server/CommandLine.h"
#include "Server/ServerService.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA is given a 148-byte structure");

int main(int argc, char* argv[])
{
    UseExactConsoleStreams();

    OSVERSIONINFOA osvi = {};
    osvi.dwOSVersionInfoSize = sizeof(osvi);
    GetVersionExA(&osvi);
    g_dwPlatformId = osvi.dwPlatformId;

    CServerService service;

    char szLine[JOINED_LINE_SIZE];
    JoinArguments(argc, argv, szLine);
    DWORD dwReset = 0;
    int nMayStart = ParseCommandLine(szLine, dwReset, service.m_szName);
    if (dwReset)
        service.ResetSettings();
    // Also after an error: the settings given before it are kept.
    service.SaveSettings();

    if (!service.HandleServiceVerb(argc, argv) && nMayStart == 1)
        service.StartDispatcher();
    return static_cast<int>(service.m_ServiceStatus.dwWin32ExitCode);
}
