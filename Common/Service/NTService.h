// Base class of both programs' service classes: hands the process to the
// service dispatcher, turns controls into virtual calls, reports status,
// writes event-log entries and trace lines, and installs, reports and
// removes the service.
#pragma once

#include "Common/Win32.h"

class CNTService
{
public:
    explicit CNTService(const char* pszServiceName);
    virtual ~CNTService();

    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // Acts on a first argument -v, -i or -u (any case); true when it was one.
    virtual bool HandleServiceVerb(int argc, char* argv[]);
    // The work of the running service; returns when the service is to stop.
    virtual void Run();
    // Start-up of the running service; false fails the start.
    virtual bool OnInit();
    virtual void OnStop();
    virtual void OnInterrogate();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
    // A control code of 128 or above; false when it was not handled.
    virtual bool OnUserControl(DWORD dwOpcode);

    // True when the SCM has this service and it opens for querying.
    bool IsServiceInstalled();
    // Creates the service entry and its event-log source.
    bool InstallService();
    // Deletes the service entry.
    bool RemoveService();

    // Runs the service dispatcher; fails at once outside the SCM.
    bool StartDispatcher();
    // Reports start pending, runs OnInit, reports running or stopped.
    bool Initialize();
    // Stores and reports the current state.
    void SetStatus(DWORD dwState);
    // Writes one Application event-log entry under the service's name.
    void ReportServiceEvent(WORD wType, DWORD dwEventId,
                            const char* pszText1 = nullptr,
                            const char* pszText2 = nullptr,
                            const char* pszText3 = nullptr);
    // Writes "[name](thread id): message" and a line feed to the debugger output.
    void Trace(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));

    static void WINAPI ServiceMain(DWORD dwArgc, LPSTR* lpszArgv);
    static void WINAPI Handler(DWORD dwOpcode);

    char                  m_szName[64];
    int                   m_nVersionMajor;
    int                   m_nVersionMinor;
    DWORD                 m_dwTypeFlags;
    BOOL                  m_bAutoStart;
    SERVICE_STATUS_HANDLE m_hStatus;
    SERVICE_STATUS        m_ServiceStatus;
    volatile LONG         m_bKeepRunning;
    HANDLE                m_hEventLog;
};

// The one service object of the process, reached by the dispatcher's callbacks.
extern CNTService* g_pService;
