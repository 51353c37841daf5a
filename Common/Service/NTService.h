// Base class of both programs' service classes: hands the process to the
// service dispatcher, turns controls into virtual calls, reports status,
// writes event-log entries and trace lines, and installs, reports and
// removes the service.
#pragma once

#include "Common/CriticalSection.h"
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
    // The control hooks, called by Handler on the dispatcher's thread.
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

    // The key of the service's settings under HKEY_LOCAL_MACHINE:
    // "SYSTEM\CurrentControlSet\Services\<name>\Parameters".
    void GetParametersKey(char (&szKey)[MAX_PATH]) const;
    // Creates or opens the settings key for writing; null, with a trace line, on failure.
    HKEY CreateParametersKey();
    // Deletes the settings key; a missing key is no error.
    void DeleteParametersKey();

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

    // Entry of the service thread: registers Handler, runs Initialize and Run.
    static void WINAPI ServiceMain(DWORD dwArgc, LPSTR* lpszArgv);
    // Turns one control code into a hook call and reports the status again.
    static void WINAPI Handler(DWORD dwOpcode);

    char                  m_szName[64];
    int                   m_nVersionMajor;
    int                   m_nVersionMinor;
    DWORD                 m_dwTypeFlags;
    BOOL                  m_bAutoStart;
    SERVICE_STATUS_HANDLE m_hStatus;
    SERVICE_STATUS        m_ServiceStatus;
    volatile LONG         m_bKeepRunning;
    HANDLE volatile       m_hEventLog;  // set once, by whichever thread opens the source first

private:
    // The work of InstallService and RemoveService; each returns the error
    // code of the step that failed, read before anything was closed.
    DWORD CreateServiceEntry();
    DWORD DeleteServiceEntry();
    // The last act of ServiceMain: reports the stopped state from a copy,
    // touching the object no more once the SCM may end the process.
    void ReportStopped();

    // Keeps every status report in the order of the state changes: the
    // dispatcher's thread reports again at the end of each control, and
    // without the lock its stop-pending report could follow the stopped one.
    CCriticalSection m_StatusLock;
    bool             m_bStopReported;
};

// The one service object of the process, reached by the dispatcher's callbacks.
extern CNTService* g_pService;

// Test seam: the event log cannot be read back everywhere, so a test may set
// this to see every event the service reports (type, id, number of texts and
// the first text, or null). The programs never set it.
using ServiceEventObserver = void (*)(WORD wType, DWORD dwEventId, WORD wTextCount, const char* pszText1);
extern ServiceEventObserver g_pfnServiceEventObserver;
