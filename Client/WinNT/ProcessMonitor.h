// The client's view of the running programs: platform detection, run-time
// binding of PSAPI (NT) or Toolhelp (Windows 9x), snapshots and their diff,
// and the tick that reports starts and finishes and samples the foreground.
#pragma once

#include "Common/CriticalSection.h"
#include "Client/WinNT/ItemArray.h"

#include <tlhelp32.h>

// One running process as the client sees it; copied byte for byte.
struct ProcessEntry
{
    char       szProgram[MAX_PATH];  // raw path from the platform; empty when unreadable
    HANDLE     hProcess;             // NT: opened when reported started, closed at finish
    DWORD      dwProcessId;
    char       szUser[130];          // NT: account of the process's token
    SYSTEMTIME stStart;              // local start time; all zero when unreadable
    int        nActiveTicks;         // ticks in which it owned a foreground window
    int        nTicks;               // ticks counted while listed
};

using CProcessList = CItemArrayOf<ProcessEntry>;

class CProcessMonitor
{
public:
    explicit CProcessMonitor(bool bAllStations);
    ~CProcessMonitor();

    CProcessMonitor(const CProcessMonitor&) = delete;
    CProcessMonitor& operator=(const CProcessMonitor&) = delete;

    // One tick of the client: reports what started and finished, then samples
    // the foreground and counts the tick for every listed process.
    void Tick(bool bForce);

    // True when a full snapshot may differ from the list.
    bool HasChanged();
    // Takes a snapshot (unless nothing changed and bForce is clear) and
    // reports the entries that started and finished; true when any did.
    bool Update(bool bForce, CProcessList& started, CProcessList& finished);

    // Whether the platform's enumeration functions were bound.
    bool IsUsable() const { return m_bUsable; }

    // Rewrites a program path in place with the long names the file system
    // stores; returns pszPath.
    static char* CanonicalizePath(char* pszPath);

    CProcessList m_Processes;

    // TODO(monitor): bound entry points, modules, m_Lock, m_bAllStations.
private:
    bool m_bUsable;
    bool m_bAllStations;
};

// The client's one process monitor, constructed after g_Logger.
extern CProcessMonitor g_Monitor;
