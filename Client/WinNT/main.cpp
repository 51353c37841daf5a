// qfnt: configured from its command line, it stores its settings and ends;
// started by the Service Control Manager without arguments, it runs as the
// service QFClient.
#include "Client/WinNT/ClientService.h"
#include "Client/WinNT/ClientSettings.h"
#include "Common/Records/LogFile.h"
#include "Common/Service/ConsoleStreams.h"
#include "Common/Text.h"

#include <cstring>

namespace
{
// The folder of the program file, without its trailing backslash. A path
// that the buffer cannot hold leaves the folder empty rather than wrong.
void FindProgramFolder(char (&szFolder)[MAX_PATH])
{
    szFolder[0] = '\0';
    DWORD cch = GetModuleFileNameA(nullptr, szFolder, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
    {
        szFolder[0] = '\0';
        return;
    }
    char* pszLastSlash = std::strrchr(szFolder, '\\');
    if (pszLastSlash)
        *pszLastSlash = '\0';
}
}  // namespace

int main(int argc, char* argv[])
{
    UseExactConsoleStreams();
    char szOutputFolder[MAX_PATH];
    FindProgramFolder(szOutputFolder);
    OutputFolder = szOutputFolder;

    DWORD dwExitCode = 0;
    {
        CClientService service;
        bool bReset = false;
        bool bStartDispatcher = ParseCommandLine(argc, argv, bReset, service.m_szName);
        if (bReset)
            service.ResetSettings();
        service.SaveSettings();
        if (!service.HandleServiceVerb(argc, argv) && bStartDispatcher)
            service.StartDispatcher();
        dwExitCode = service.m_ServiceStatus.dwWin32ExitCode;
    }

    OutputFolder = nullptr;
    return static_cast<int>(dwExitCode);
}
