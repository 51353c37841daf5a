// The client's view of the running programs: platform detection, run-time
// binding of PSAPI (NT) or Toolhelp (Windows 9x), snapshots and their diff,
// and the tick that reports starts and finishes and samples the foreground.
#pragma once

#include "Common/CriticalSection.h"
#include "Common/Handles.h"
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
    // Detects the platform into g_dwPlatformId and binds its enumeration
    // functions; with bAllStations the NT sampling visits every window
    // station and desktop. A failed binding leaves the monitor unusable.
    explicit CProcessMonitor(bool bAllStations);
    // For tests: as above, but binds the functions of dwBindPlatformId (1:
    // Toolhelp, 2: PSAPI) whatever the system reports.
    CProcessMonitor(bool bAllStations, DWORD dwBindPlatformId);
    virtual ~CProcessMonitor();

    CProcessMonitor(const CProcessMonitor&) = delete;
    CProcessMonitor& operator=(const CProcessMonitor&) = delete;

    // One tick of the client: reports what started and finished, then samples
    // the foreground and counts the tick for every listed process.
    void Tick(bool bForce);

    // True when a full snapshot may differ from the list.
    bool HasChanged() const;
    // Takes a snapshot (unless nothing changed and bForce is clear) and
    // reports the entries that started and finished; true when any did.
    // A snapshot that cannot be read, or memory that runs out, changes nothing.
    bool Update(bool bForce, CProcessList& started, CProcessList& finished);

    // Whether the platform's enumeration functions were bound.
    bool IsUsable() const { return m_bUsable; }

    // Rewrites a program path (a MAX_PATH buffer) in place with the long
    // names the file system stores; returns pszPath. A path that cannot be
    // looked up, or whose long form would not fit, stays as it was.
    static char* CanonicalizePath(char* pszPath);

    // Share of counted ticks in the foreground, 0 to 100 rounded half up, or
    // NO_ACTIVITY when either count is zero.
    static BYTE ActivityPercentage(int nActiveTicks, int nTicks);

    CProcessList m_Processes;

protected:
    // Hand a reported entry, its path canonical, to the client's logger.
    virtual void EmitTracked(const ProcessEntry& entry);
    virtual void EmitFinished(const ProcessEntry& entry, ULONGLONG ullCpuTime, BYTE bActivity);

private:
    using PFN_CREATETOOLHELP32SNAPSHOT = HANDLE(WINAPI*)(DWORD, DWORD);
    using PFN_PROCESS32 = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);
    using PFN_THREAD32 = BOOL(WINAPI*)(HANDLE, THREADENTRY32*);
    using PFN_ENUMPROCESSES = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using PFN_ENUMPROCESSMODULES = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using PFN_GETMODULEFILENAMEEXA = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

    static void DetectPlatform();
    void Bind(DWORD dwPlatformId);
    bool BindToolhelp();
    bool BindPsapi();

    bool HasChangedToolhelp() const;
    bool HasChangedPsapi() const;
    bool ReadProcessIds(CLocalMem& ids, DWORD& nIds) const;
    void ReadProgramName(HANDLE hProcess, char (&szProgram)[MAX_PATH]) const;
    bool ReadSnapshot(CProcessList& fresh) const;
    bool ReadSnapshotToolhelp(CProcessList& fresh) const;
    bool ReadSnapshotPsapi(CProcessList& fresh) const;
    bool Match(CProcessList& fresh, CProcessList& started, CItemArrayOf<UINT>& newcomers,
               CProcessList& finished) const;
    UINT FindPartner(const ProcessEntry& entry, UINT nIndex) const;

    ULONGLONG TakeCpuTime(ProcessEntry& entry) const;
    void CountTick();

    PFN_CREATETOOLHELP32SNAPSHOT m_pfnCreateToolhelp32Snapshot = nullptr;
    PFN_PROCESS32                m_pfnProcess32First = nullptr;
    PFN_PROCESS32                m_pfnProcess32Next = nullptr;
    PFN_THREAD32                 m_pfnThread32First = nullptr;  // required, never called
    PFN_THREAD32                 m_pfnThread32Next = nullptr;   // required, never called
    CModule                      m_hKernel32;
    PFN_ENUMPROCESSES            m_pfnEnumProcesses = nullptr;
    PFN_ENUMPROCESSMODULES       m_pfnEnumProcessModules = nullptr;
    PFN_GETMODULEFILENAMEEXA     m_pfnGetModuleFileNameExA = nullptr;
    CModule                      m_hPsapi;
    CCriticalSection             m_Lock;
    bool                         m_bAllStations;
    bool                         m_bUsable = false;
    DWORD                        m_dwPlatformId = 0;  // whose functions were bound
};

// The client's one process monitor, constructed after g_Logger.
extern CProcessMonitor g_Monitor;
