#include "Tests/Support/ServiceControl.h"

#include "Common/Handles.h"

DWORD QueryServiceState(const char* pszName, DWORD* pdwExitCode)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hScm)
        return 0;
    CScHandle hService(OpenServiceA(hScm.Get(), pszName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!hService || !QueryServiceStatus(hService.Get(), &status))
        return 0;
    if (pdwExitCode)
        *pdwExitCode = status.dwWin32ExitCode;
    return status.dwCurrentState;
}

bool WaitForServiceState(const char* pszName, DWORD dwState, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        if (QueryServiceState(pszName) == dwState)
            return true;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(50);
    }
}

HANDLE OpenServiceProcess(const char* pszName)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!hScm)
        return nullptr;
    CScHandle hService(OpenServiceA(hScm.Get(), pszName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD cbNeeded = 0;
    if (!hService || !QueryServiceStatusEx(hService.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                           sizeof status, &cbNeeded) ||
        status.dwProcessId == 0)
        return nullptr;
    return OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
}

void RemoveServiceTraces(const char* pszName)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (hScm)
    {
        CScHandle hService(OpenServiceA(hScm.Get(), pszName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
        if (hService)
        {
            SERVICE_STATUS status = {};
            if (ControlService(hService.Get(), SERVICE_CONTROL_STOP, &status))
                WaitForServiceState(pszName, SERVICE_STOPPED, 15000);
            DeleteService(hService.Get());
        }
    }
    std::string strService = std::string("SYSTEM\\CurrentControlSet\\Services\\") + pszName;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, strService.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, strService.c_str());
    std::string strSource = std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + pszName;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, strSource.c_str());
}

std::string SystemProgram(const char* pszName)
{
    char szFolder[MAX_PATH] = "";
    UINT cch = GetSystemDirectoryA(szFolder, MAX_PATH);
    return std::string(szFolder, cch < MAX_PATH ? cch : 0) + "\\" + pszName;
}
