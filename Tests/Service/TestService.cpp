// A service of the tests' own, QFTestService: the framework's base class with
// its own Run and hooks. It installs and removes itself with -i and -u like
// the programs do, and, run by the SCM, records every trace line and every
// event it reports in "<program>.trace" beside itself.
#include "Common/Handles.h"
#include "Common/Service/ConsoleStreams.h"
#include "Common/Service/NTService.h"

#include <cstdio>
#include <cstring>

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006
#endif

namespace
{
HANDLE g_hTraceFile = INVALID_HANDLE_VALUE;

// Appends are atomic, so the dispatcher's and the service thread's lines
// never mix.
void AppendLine(const char* pszLine, size_t cch)
{
    DWORD cbWritten = 0;
    WriteFile(g_hTraceFile, pszLine, static_cast<DWORD>(cch), &cbWritten, nullptr);
}

LONG CALLBACK RecordTrace(PEXCEPTION_POINTERS pInfo)
{
    const EXCEPTION_RECORD* pRecord = pInfo->ExceptionRecord;
    if (pRecord->ExceptionCode != DBG_PRINTEXCEPTION_C || pRecord->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    size_t cch = static_cast<size_t>(pRecord->ExceptionInformation[0]);
    const char* pszLine = reinterpret_cast<const char*>(pRecord->ExceptionInformation[1]);
    AppendLine(pszLine, cch ? cch - 1 : 0);  // the count includes the terminator
    return EXCEPTION_CONTINUE_EXECUTION;
}

void RecordEvent(WORD wType, DWORD dwEventId, WORD wTextCount, const char* pszText1)
{
    char szLine[200];
    int cch = std::snprintf(szLine, sizeof szLine, "event %lu type %u texts %u %s\n", dwEventId, wType, wTextCount,
                            pszText1 ? pszText1 : "");
    if (cch > 0)
        AppendLine(szLine, std::strlen(szLine));
}

class CTestService : public CNTService
{
public:
    CTestService() : CNTService("QFTestService")
    {
        m_nVersionMajor = 1;
        m_nVersionMinor = 5;
    }
};
}  // namespace

int main(int argc, char* argv[])
{
    UseExactConsoleStreams();
    char szTracePath[MAX_PATH + 8] = "";
    GetModuleFileNameA(nullptr, szTracePath, MAX_PATH);
    std::strcat(szTracePath, ".trace");
    CFileHandle hTrace(CreateFileA(szTracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    g_hTraceFile = hTrace.Get();
    PVOID pvHandler = AddVectoredExceptionHandler(1, RecordTrace);
    g_pfnServiceEventObserver = RecordEvent;

    DWORD dwExitCode = 0;
    {
        CTestService service;
        if (!service.HandleServiceVerb(argc, argv))
            service.StartDispatcher();
        dwExitCode = service.m_ServiceStatus.dwWin32ExitCode;
    }

    RemoveVectoredExceptionHandler(pvHandler);
    return static_cast<int>(dwExitCode);
}
