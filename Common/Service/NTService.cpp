#include "Common/Service/NTService.h"

#include "Common/Handles.h"
#include "Common/Text.h"
#include "Messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>

CNTService* g_pService = nullptr;
ServiceEventObserver g_pfnServiceEventObserver = nullptr;

namespace
{
constexpr size_t TRACE_LINE_SIZE = 1024;

// Control codes from here up are the program's own.
constexpr DWORD FIRST_USER_CONTROL = 128;

const char EVENT_SOURCE_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// The full path of the running program file; false when it does not fit.
bool GetProgramPath(char (&szPath)[MAX_PATH])
{
    szPath[0] = '\0';
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    if (cch == 0)
        return false;
    if (cch >= MAX_PATH)
    {
        // A cut path would name another file; older systems do not even
        // terminate it.
        szPath[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// True for ERROR_SUCCESS. Otherwise dwErr becomes the last error again: the
// caller prints it, and the handles closed since must not hide it.
bool Succeeded(DWORD dwErr)
{
    if (dwErr == ERROR_SUCCESS)
        return true;
    SetLastError(dwErr);
    return false;
}
}  // namespace

CNTService::CNTService(const char* pszServiceName)
    : m_szName{}, m_nVersionMajor(0), m_nVersionMinor(0), m_dwTypeFlags(0), m_bAutoStart(FALSE),
      m_hStatus(nullptr), m_ServiceStatus{}, m_bKeepRunning(0), m_hEventLog(nullptr), m_bStopReported(false)
{
    // A longer name is cut to the 63 characters the field holds.
    CopyText(m_szName, pszServiceName);
    m_ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_ServiceStatus.dwCurrentState = SERVICE_STOPPED;
    m_ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    g_pService = this;
}

CNTService::~CNTService()
{
    Trace("CNTService::~CNTService()");
    if (m_hEventLog)
        DeregisterEventSource(m_hEventLog);
    if (g_pService == this)
        g_pService = nullptr;
}

bool CNTService::HandleServiceVerb(int argc, char* argv[])
{
    if (argc < 2 || !argv[1])
        return false;
    const char* pszVerb = argv[1];
    if (_stricmp(pszVerb, "-v") == 0)
    {
        std::cout << m_szName << " Version " << m_nVersionMajor << '.' << m_nVersionMinor << '\n' << std::flush;
        std::cout << "The service is " << (IsServiceInstalled() ? "currently" : "not") << " installed\n"
                  << std::flush;
    }
    else if (_stricmp(pszVerb, "-i") == 0)
    {
        if (IsServiceInstalled())
            std::cout << m_szName << " is already installed\n";
        else if (InstallService())
            std::cout << m_szName << " installed\n";
        else
        {
            DWORD dwErr = GetLastError();
            std::cout << m_szName << " failed to install. Error " << static_cast<int>(dwErr) << '\n';
        }
        std::cout << std::flush;
    }
    else if (_stricmp(pszVerb, "-u") == 0)
    {
        if (!IsServiceInstalled())
            std::cout << m_szName << " is not installed\n";
        else if (RemoveService())
        {
            char szPath[MAX_PATH];
            GetProgramPath(szPath);
            std::cout << m_szName << " removed. (You must delete the file (" << szPath << ") yourself.)\n";
        }
        else
        {
            DWORD dwErr = GetLastError();
            std::cout << "Could not remove " << m_szName << ". Error " << static_cast<int>(dwErr) << '\n';
        }
        std::cout << std::flush;
    }
    else
        return false;
    return true;
}

void CNTService::Run()
{
    Trace("Entering CNTService::Run()");
    while (m_bKeepRunning)
    {
        Trace("Sleeping...");
        Sleep(5000);
    }
    Trace("Leaving CNTService::Run()");
}

bool CNTService::OnInit()
{
    Trace("CNTService::OnInit()");
    return true;
}

void CNTService::OnStop()
{
    Trace("CNTService::OnStop()");
}

void CNTService::OnInterrogate()
{
    Trace("CNTService::OnInterrogate()");
}

void CNTService::OnPause()
{
    Trace("CNTService::OnPause()");
}

void CNTService::OnContinue()
{
    Trace("CNTService::OnContinue()");
}

void CNTService::OnShutdown()
{
    Trace("CNTService::OnShutdown()");
}

bool CNTService::OnUserControl(DWORD dwOpcode)
{
    Trace("CNTService::OnUserControl(%8.8lXH)", dwOpcode);
    return false;
}

bool CNTService::IsServiceInstalled()
{
    // Connecting is all a query needs, so any user gets a true answer.
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hScm)
        return false;
    CScHandle hService(OpenServiceA(hScm.Get(), m_szName, SERVICE_QUERY_CONFIG));
    return hService.IsValid();
}

bool CNTService::InstallService()
{
    return Succeeded(CreateServiceEntry());
}

DWORD CNTService::CreateServiceEntry()
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!hScm)
        return GetLastError();

    char szPath[MAX_PATH];
    if (!GetProgramPath(szPath))
        return GetLastError();

    // An unquoted path with a blank would let the SCM start "C:\Program.exe"
    // first; a quoted one names only this file.
    char szImagePath[MAX_PATH + 2] = "";
    if (std::strchr(szPath, ' '))
    {
        CopyText(szImagePath, "\"");
        AppendText(szImagePath, szPath);
        AppendText(szImagePath, "\"");
    }
    else
        CopyText(szImagePath, szPath);

    CScHandle hService(CreateServiceA(hScm.Get(), m_szName, m_szName, SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS | m_dwTypeFlags,
                                      m_bAutoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                                      SERVICE_ERROR_NORMAL, szImagePath, nullptr, nullptr, nullptr, nullptr,
                                      nullptr));
    if (!hService)
        return GetLastError();

    char szKey[sizeof EVENT_SOURCE_KEY + sizeof m_szName];
    CopyText(szKey, EVENT_SOURCE_KEY);
    AppendText(szKey, m_szName);
    HKEY hKeyRaw = nullptr;
    LONG lErr = RegCreateKeyA(HKEY_LOCAL_MACHINE, szKey, &hKeyRaw);
    if (lErr != ERROR_SUCCESS)
        return static_cast<DWORD>(lErr);  // the service entry stays registered
    CRegKey hKey(hKeyRaw);

    RegSetValueExA(hKey.Get(), "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(szPath),
                   static_cast<DWORD>(std::strlen(szPath) + 1));
    DWORD dwTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    RegSetValueExA(hKey.Get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwTypes),
                   sizeof dwTypes);
    hKey.Close();

    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_INSTALLED, m_szName);
    return ERROR_SUCCESS;
}

bool CNTService::RemoveService()
{
    return Succeeded(DeleteServiceEntry());
}

DWORD CNTService::DeleteServiceEntry()
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hScm)
        return GetLastError();
    CScHandle hService(OpenServiceA(hScm.Get(), m_szName, DELETE));
    if (!hService)
        return GetLastError();
    if (!DeleteService(hService.Get()))
    {
        DWORD dwErr = GetLastError();
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, EVMSG_NOTREMOVED, m_szName);
        return dwErr;
    }
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_REMOVED, m_szName);
    return ERROR_SUCCESS;
}

bool CNTService::StartDispatcher()
{
    SERVICE_TABLE_ENTRYA table[] = {
        { m_szName, ServiceMain },
        { nullptr, nullptr },
    };
    Trace("Calling StartServiceCtrlDispatcher()");
    BOOL bResult = StartServiceCtrlDispatcherA(table);
    Trace("Returned from StartServiceCtrlDispatcher()");
    return bResult != FALSE;
}

void WINAPI CNTService::ServiceMain(DWORD, LPSTR*)
{
    CNTService* pService = g_pService;
    pService->Trace("Entering CNTService::ServiceMain()");
    pService->m_ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    pService->m_hStatus = RegisterServiceCtrlHandlerA(pService->m_szName, Handler);
    if (!pService->m_hStatus)
    {
        pService->ReportServiceEvent(EVENTLOG_ERROR_TYPE, EVMSG_CTRLHANDLERNOTINSTALLED);
        return;
    }
    // Set before the running state is reported, so that a stop control that
    // comes before Run starts still ends it.
    pService->m_bKeepRunning = 1;
    if (pService->Initialize())
    {
        pService->m_ServiceStatus.dwWin32ExitCode = 0;
        pService->m_ServiceStatus.dwCheckPoint = 0;
        pService->m_ServiceStatus.dwWaitHint = 0;
        pService->Run();
    }
    pService->Trace("Leaving CNTService::ServiceMain()");
    pService->ReportStopped();
}

void CNTService::ReportStopped()
{
    Trace("CNTService::SetStatus(%lu, %lu)", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(m_hStatus)),
          static_cast<DWORD>(SERVICE_STOPPED));
    SERVICE_STATUS_HANDLE hStatus = nullptr;
    SERVICE_STATUS status;
    {
        CAutoLock lock(m_StatusLock);
        m_ServiceStatus.dwCurrentState = SERVICE_STOPPED;
        m_bStopReported = true;
        hStatus = m_hStatus;
        status = m_ServiceStatus;
    }
    // With this report the dispatcher returns, main ends and the object is
    // gone: nothing of it may be used after.
    SetServiceStatus(hStatus, &status);
}

bool CNTService::Initialize()
{
    Trace("Entering CNTService::Initialize()");
    SetStatus(SERVICE_START_PENDING);
    bool bResult = OnInit();
    // Whatever OnInit returned, the SCM gets the code it left behind.
    m_ServiceStatus.dwWin32ExitCode = GetLastError();
    m_ServiceStatus.dwCheckPoint = 0;
    m_ServiceStatus.dwWaitHint = 0;
    if (!bResult)
    {
        // ServiceMain reports the stopped state, once and last: a report here
        // would let the dispatcher return while this thread still uses the object.
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, EVMSG_FAILEDINIT);
        m_ServiceStatus.dwCurrentState = SERVICE_STOPPED;
        return false;
    }
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STARTED);
    SetStatus(SERVICE_RUNNING);
    Trace("Leaving CNTService::Initialize()");
    return true;
}

void CNTService::SetStatus(DWORD dwState)
{
    Trace("CNTService::SetStatus(%lu, %lu)", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(m_hStatus)),
          dwState);
    CAutoLock lock(m_StatusLock);
    m_ServiceStatus.dwCurrentState = dwState;
    if (!m_bStopReported)
        SetServiceStatus(m_hStatus, &m_ServiceStatus);
}

void WINAPI CNTService::Handler(DWORD dwOpcode)
{
    CNTService* pService = g_pService;
    pService->Trace("CNTService::Handler(%lu)", dwOpcode);
    // Held to the final report, so that the stopped state, once the service
    // thread reports it, is the last state the SCM gets.
    CAutoLock lock(pService->m_StatusLock);
    switch (dwOpcode)
    {
    case SERVICE_CONTROL_STOP:
        pService->SetStatus(SERVICE_STOP_PENDING);
        pService->OnStop();
        pService->m_bKeepRunning = 0;
        pService->ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, EVMSG_STOPPED);
        break;
    case SERVICE_CONTROL_PAUSE:
        pService->OnPause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        pService->OnContinue();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        pService->OnInterrogate();
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        pService->OnShutdown();
        break;
    default:
        // Below the program's own codes nothing is handled.
        if (dwOpcode < FIRST_USER_CONTROL || !pService->OnUserControl(dwOpcode))
            pService->ReportServiceEvent(EVENTLOG_ERROR_TYPE, EVMSG_BADREQUEST);
        break;
    }
    pService->Trace("Updating status (%lu, %lu)",
                    static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(pService->m_hStatus)),
                    pService->m_ServiceStatus.dwCurrentState);
    if (!pService->m_bStopReported)
        SetServiceStatus(pService->m_hStatus, &pService->m_ServiceStatus);
}

void CNTService::ReportServiceEvent(WORD wType, DWORD dwEventId, const char* pszText1, const char* pszText2,
                                    const char* pszText3)
{
    // Only the texts given are passed, packed at the front.
    const char* apszTexts[3] = {};
    WORD wCount = 0;
    for (const char* pszText : { pszText1, pszText2, pszText3 })
    {
        if (pszText)
            apszTexts[wCount++] = pszText;
    }
    if (g_pfnServiceEventObserver)
        g_pfnServiceEventObserver(wType, dwEventId, wCount, apszTexts[0]);

    // The dispatcher's thread and the service thread may both get here first:
    // the source that loses the race is closed again, so one handle is kept.
    HANDLE hEventLog = m_hEventLog;
    if (!hEventLog)
    {
        HANDLE hOpened = RegisterEventSourceA(nullptr, m_szName);
        if (!hOpened)
            return;  // lost; the next report tries again
        PVOID pvPrevious = InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&m_hEventLog),
                                                             hOpened, nullptr);
        if (pvPrevious)
        {
            DeregisterEventSource(hOpened);
            hEventLog = pvPrevious;
        }
        else
            hEventLog = hOpened;
    }
    ReportEventA(hEventLog, wType, 0, dwEventId, nullptr, wCount, 0, wCount ? apszTexts : nullptr, nullptr);
}

void CNTService::Trace(const char* pszFormat, ...)
{
    char szLine[TRACE_LINE_SIZE];
    int nPrefix = std::snprintf(szLine, sizeof szLine, "[%s](%lu): ", m_szName, GetCurrentThreadId());
    if (nPrefix < 0)
        nPrefix = 0;
    // The name has at most 63 characters, so the prefix always fits; the
    // message gets the rest less one byte for the line feed, and is cut there.
    size_t cchRoom = sizeof szLine - 1 - static_cast<size_t>(nPrefix);
    va_list args;
    va_start(args, pszFormat);
    int nMessage = std::vsnprintf(szLine + nPrefix, cchRoom, pszFormat, args);
    va_end(args);
    if (nMessage < 0)
        szLine[nPrefix] = '\0';
    szLine[nPrefix + cchRoom - 1] = '\0';
    size_t cch = std::strlen(szLine);
    szLine[cch] = '\n';
    szLine[cch + 1] = '\0';
    OutputDebugStringA(szLine);
}

void CNTService::GetParametersKey(char (&szKey)[MAX_PATH]) const
{
    CopyText(szKey, "SYSTEM\\CurrentControlSet\\Services\\");
    AppendText(szKey, m_szName);
    AppendText(szKey, "\\Parameters");
}

HKEY CNTService::CreateParametersKey()
{
    char szKey[MAX_PATH];
    GetParametersKey(szKey);
    Trace("Creating key: %s", szKey);
    char szClass[] = "";
    HKEY hKey = nullptr;
    LONG lResult = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, szClass, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, &hKey, nullptr);
    if (lResult != ERROR_SUCCESS)
    {
        Trace("Failed to create Status key (%lu)", static_cast<unsigned long>(lResult));
        return nullptr;
    }
    return hKey;
}

void CNTService::DeleteParametersKey()
{
    char szKey[MAX_PATH];
    GetParametersKey(szKey);
    Trace("Deleting key: %s", szKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, szKey);
}
