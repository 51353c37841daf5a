#include "Client/WinNT/ClientService.h"

#include "Client/WinNT/ClientSettings.h"
#include "Client/WinNT/Logger.h"
#include "Client/WinNT/ProcessMonitor.h"
#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"
#include "Common/Records/LogFile.h"
#include "Common/Service/ExitWithError.h"
#include "Common/Text.h"

#include <cstring>

HANDLE g_hStopEvent = nullptr;
HANDLE g_hTickTimer = nullptr;

namespace
{
// The sender is woken on the tick that finds this many ticks counted before it.
constexpr int WAKEUP_TICKS = 240;

// First expiry 5 s after the start (relative, in 100-ns units), then every 500 ms.
constexpr LONGLONG TICK_FIRST_DUE = -50000000LL;
constexpr LONG TICK_PERIOD_MS = 500;

// Asks the system to page out as much of the process as it can.
void TrimWorkingSet()
{
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

void WriteText(HKEY hKey, const char* pszName, const char* pszText)
{
    if (pszText[0] != '\0')
        RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszText),
                       static_cast<DWORD>(std::strlen(pszText) + 1));
}

void WriteNumber(HKEY hKey, const char* pszName, DWORD dwValue, bool bWrite)
{
    if (bWrite)
        RegSetValueExA(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
}

// Reads a text value into its field of cbField bytes. A value that is
// missing, not REG_SZ, or too long for the field with its terminator leaves
// the field as it was: a cut folder or host would name something else.
void ReadText(HKEY hKey, const char* pszName, char* pszField, size_t cbField)
{
    char szValue[MAX_PATH];
    if (cbField > sizeof szValue)
        cbField = sizeof szValue;
    DWORD dwType = 0;
    DWORD cbData = static_cast<DWORD>(cbField);
    if (RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(szValue), &cbData) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        return;
    // A text stored without its terminator comes back without one.
    if (cbData == 0)
        szValue[0] = '\0';
    else if (szValue[cbData - 1] != '\0')
    {
        if (cbData >= cbField)
            return;
        szValue[cbData] = '\0';
    }
    CopyText(pszField, cbField, szValue);
}

// Reads a REG_DWORD value; anything else leaves the field as it was.
void ReadNumber(HKEY hKey, const char* pszName, DWORD& dwField)
{
    DWORD dwValue = 0;
    DWORD dwType = 0;
    DWORD cbData = sizeof dwValue;
    if (RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cbData) ==
            ERROR_SUCCESS &&
        dwType == REG_DWORD && cbData == sizeof dwValue)
        dwField = dwValue;
}

void ReadNumber(HKEY hKey, const char* pszName, int& nField)
{
    DWORD dwValue = static_cast<DWORD>(nField);
    ReadNumber(hKey, pszName, dwValue);
    nField = static_cast<int>(dwValue);
}
}  // namespace

CClientService::CClientService() : CNTService("QFClient"), m_bStopRequested(false)
{
    m_nVersionMajor = 1;
    m_nVersionMinor = 5;
    m_dwTypeFlags = SERVICE_INTERACTIVE_PROCESS;
    m_bAutoStart = TRUE;
    g_hStopEvent = nullptr;
}

CClientService::~CClientService() {}

void CClientService::Run()
{
    TrimWorkingSet();
    if (g_Logger.m_szServer[0] != '\0')
        g_Logger.ServerDelivery = true;
    else
        g_Logger.LocalLogging = true;
    g_Logger.SetPaths("Process.log", "\\Process.old.log", "\\buffer.dat");

    CHandle hStopEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!hStopEvent)
        ExitWithError("CreateEvent (Stop)");
    PublishStopEvent(hStopEvent.Get());

    CHandle hTimer(CreateWaitableTimerA(nullptr, FALSE, nullptr));
    if (!hTimer)
        ExitWithError("CreateWaitableTimer");
    g_hTickTimer = hTimer.Get();
    LARGE_INTEGER liFirstDue;
    liFirstDue.QuadPart = TICK_FIRST_DUE;
    if (!SetWaitableTimer(hTimer.Get(), &liFirstDue, TICK_PERIOD_MS, nullptr, nullptr, FALSE))
        ExitWithError("SetWaitableTimer");

    g_Logger.LogStarted();

    // The stop event comes first, so it wins when both are signalled.
    const HANDLE ahWait[] = { hStopEvent.Get(), hTimer.Get() };
    int nTicks = 0;
    bool bRunning = true;
    while (bRunning)
    {
        DWORD dwWait = WaitForMultipleObjectsEx(2, ahWait, FALSE, INFINITE, TRUE);
        switch (dwWait - WAIT_OBJECT_0)
        {
        case 0:
            bRunning = false;
            break;
        case 1:
            OnTick(nTicks);
            break;
        default:
            // A failure, or an asynchronous call that nothing here queues.
            ExitWithError("WaitForMultipleObjectsEx");
        }
    }

    CancelWaitableTimer(hTimer.Get());
    g_Logger.LogStopped();
    g_hTickTimer = nullptr;
    PublishStopEvent(nullptr);
}

void CClientService::OnTick(int& nTicks)
{
    g_Monitor.Tick(false);
    // Compared before it is counted: the wake-up comes on the 241st tick.
    if (nTicks >= WAKEUP_TICKS)
    {
        if (g_hSenderWakeup)
            SetEvent(g_hSenderWakeup);
        TrimWorkingSet();
        nTicks = 0;
    }
    else
        ++nTicks;
}

void CClientService::RequestStop()
{
    CAutoLock lock(m_StopLock);
    m_bStopRequested = true;
    if (g_hStopEvent)
        SetEvent(g_hStopEvent);
}

void CClientService::PublishStopEvent(HANDLE hEvent)
{
    CAutoLock lock(m_StopLock);
    g_hStopEvent = hEvent;
    if (hEvent && m_bStopRequested)
        SetEvent(hEvent);
}

void CClientService::OnStop()
{
    RequestStop();
}

void CClientService::OnShutdown()
{
    RequestStop();
}

void CClientService::OnInterrogate() {}
void CClientService::OnPause() {}
void CClientService::OnContinue() {}

bool CClientService::OnInit()
{
    char szKey[MAX_PATH];
    GetParametersKey(szKey);
    HKEY hKeyRaw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, KEY_QUERY_VALUE, &hKeyRaw) == ERROR_SUCCESS)
    {
        CRegKey hKey(hKeyRaw);
        ReadText(hKey.Get(), "LogFileFolder", g_szLogFileFolder, sizeof g_szLogFileFolder);
        ReadText(hKey.Get(), "FiltersPath", g_szFiltersPath, sizeof g_szFiltersPath);
        if (g_szFiltersPath[0] != '\0')
            g_Logger.LoadFilters(g_szFiltersPath);
        ReadText(hKey.Get(), "MachineID", g_szMachineID, sizeof g_szMachineID);
        ReadNumber(hKey.Get(), "Limit", g_Logger.m_dwLimit);
        ReadNumber(hKey.Get(), "IgnoreStartFinish", g_Logger.m_nIgnoreStartFinish);
        ReadNumber(hKey.Get(), "IgnorePrograms", g_Logger.m_nIgnorePrograms);
        ReadText(hKey.Get(), "Server", g_Logger.m_szServer, sizeof g_Logger.m_szServer);
    }
    if (g_szLogFileFolder[0] != '\0')
    {
        g_Logger.LocalLogging = true;
        if (OutputFolder)
            CopyText(OutputFolder, MAX_PATH, g_szLogFileFolder);
    }
    // The start never fails: a missing value's "file not found" is no error
    // for the SCM to show with the running state.
    SetLastError(ERROR_SUCCESS);
    return true;
}

void CClientService::ResetSettings()
{
    Trace("Resetting status");
    DeleteParametersKey();
}

void CClientService::SaveSettings()
{
    Trace("Saving current status");
    CRegKey hKey(CreateParametersKey());
    if (!hKey)
        return;
    WriteText(hKey.Get(), "LogFileFolder", g_szLogFileFolder);
    WriteText(hKey.Get(), "FiltersPath", g_szFiltersPath);
    WriteText(hKey.Get(), "MachineID", g_szMachineID);
    WriteNumber(hKey.Get(), "Limit", g_Logger.m_dwLimit, g_Logger.m_dwLimit != NO_LIMIT);
    WriteNumber(hKey.Get(), "IgnoreStartFinish", static_cast<DWORD>(g_Logger.m_nIgnoreStartFinish),
                g_Logger.m_nIgnoreStartFinish != 0);
    WriteNumber(hKey.Get(), "IgnorePrograms", static_cast<DWORD>(g_Logger.m_nIgnorePrograms),
                g_Logger.m_nIgnorePrograms != 0);
    WriteText(hKey.Get(), "Server", g_Logger.m_szServer);
}
