#include "Server/ServerService.h"

#include "Common/Handles.h"
#include "Common/Records/LogFile.h"
#include "Common/Text.h"
#include "Server/ConnectionServer.h"
#include "Server/ServerSettings.h"

HANDLE g_hStopEvent = nullptr;

CServerService::CServerService() : CNTService("Quillfen")
{
    m_nVersionMajor = 1;
    m_nVersionMinor = 5;
    m_dwTypeFlags = 0;
    m_bAutoStart = TRUE;
    // When this fails the connection server tries again and, failing, ends the process.
    g_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

CServerService::~CServerService()
{
    // Only now: the control handler, which sets the event, has stopped with the dispatcher.
    if (g_hStopEvent)
        CloseHandle(g_hStopEvent);
    g_hStopEvent = nullptr;
}

void CServerService::Run()
{
    CConnectionServer server;
    server.Run();
}

bool CServerService::OnInit()
{
    char szKeyPath[MAX_PATH];
    GetParametersKey(szKeyPath);
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szKeyPath, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return true;  // nothing stored: the defaults apply
    CRegKey key(hKey);

    // Read into a scratch buffer, so a value that does not fit leaves the
    // default, and one stored without its terminator still ends inside the field.
    char szFolder[MAX_PATH + 1] = {};
    DWORD cbFolder = MAX_PATH;
    if (RegQueryValueExA(key.Get(), "LogFileFolder", nullptr, nullptr, reinterpret_cast<BYTE*>(szFolder),
                         &cbFolder) == ERROR_SUCCESS)
        CopyText(g_ServerSettings.LogFileFolder, szFolder);

    DWORD dwLimit = 0;
    DWORD cbLimit = sizeof(dwLimit);
    if (RegQueryValueExA(key.Get(), "Limit", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwLimit), &cbLimit) ==
            ERROR_SUCCESS &&
        cbLimit == sizeof(dwLimit))
        g_ServerSettings.Limit = dwLimit;
    return true;
}

void CServerService::OnStop()
{
    if (g_hStopEvent)
        SetEvent(g_hStopEvent);
}

void CServerService::OnInterrogate() {}

void CServerService::OnPause() {}

void CServerService::OnContinue() {}

void CServerService::OnShutdown()
{
    if (g_hStopEvent)
        SetEvent(g_hStopEvent);
}

void CServerService::SaveSettings()
{
    Trace("Saving current status");
    CRegKey key(CreateParametersKey());
    if (!key)
        return;

    const char* pszFolder = g_ServerSettings.LogFileFolder;
    if (pszFolder[0] != '\0')
        RegSetValueExA(key.Get(), "LogFileFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(pszFolder),
                       static_cast<DWORD>(BoundedLength(pszFolder, MAX_PATH) + 1));
    if (g_ServerSettings.Limit != NO_LIMIT)
        RegSetValueExA(key.Get(), "Limit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&g_ServerSettings.Limit),
                       sizeof(g_ServerSettings.Limit));
}

void CServerService::ResetSettings()
{
    Trace("Resetting status");
    DeleteParametersKey();
}
