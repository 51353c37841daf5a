// What the monitor's tests share: the helper program they watch, a monitor
// that records what its ticks report, and look-ups in process lists.
#pragma once

#include "Client/WinNT/Logger.h"
#include "Client/WinNT/ProcessMonitor.h"
#include "Common/Records/EventRecord.h"
#include "Common/Handles.h"

#include <functional>
#include <string>
#include <vector>

// One run of MonitorHelper.exe ("sleep", "burn" or "window" for dwMs).
// A helper still running when the object goes is ended.
class CHelper
{
public:
    CHelper(const char* pszMode, DWORD dwMs);
    ~CHelper();

    DWORD ProcessId() const { return m_dwProcessId; }
    HANDLE Process() const { return m_hProcess.Get(); }
    bool IsRunning() const { return m_hProcess && WaitForSingleObject(m_hProcess.Get(), 0) == WAIT_TIMEOUT; }
    // Waits for the helper's end; false if it did not end in time.
    bool WaitForEnd(DWORD dwTimeoutMs = 30000) const;
    // Waits until its window owns the foreground of this desktop.
    bool WaitForForeground(DWORD dwTimeoutMs = 30000) const;

    static std::string Path();

private:
    CHandle m_hProcess;
    DWORD   m_dwProcessId = 0;
};

// One event that a tick handed on to the logger.
struct ReportedEvent
{
    bool         bFinished;
    ProcessEntry entry;       // as handed on: path canonical
    ULONGLONG    ullCpuTime;  // Finished only
    BYTE         bActivity;   // Finished only
};

// A monitor whose ticks record their events instead of logging them.
class CRecordingMonitor : public CProcessMonitor
{
public:
    using CProcessMonitor::CProcessMonitor;

    std::vector<ReportedEvent> m_Events;

    // Index of the first recorded event of that kind for the process id, or -1.
    int Find(bool bFinished, DWORD dwProcessId) const;
    // Ticks every 50 ms until such an event was recorded; false on time-out.
    bool TickUntil(bool bFinished, DWORD dwProcessId, DWORD dwTimeoutMs = 30000);

protected:
    void EmitTracked(const ProcessEntry& entry) override;
    void EmitFinished(const ProcessEntry& entry, ULONGLONG ullCpuTime, BYTE bActivity) override;
};

// The entry of the process id in the list, or null.
const ProcessEntry* FindEntry(const CProcessList& list, DWORD dwProcessId);

// This process's path as GetModuleFileNameA gives it.
std::string OwnPath();

// Other tests of the run start and end programs in the same prefix: runs
// the attempt again until no process started or ended while it ran, at most
// a few times; false when the prefix never was quiet.
bool RunWhileQuiet(const std::function<void()>& attempt);

// Kernel plus user time through the handle, in 100-ns units.
ULONGLONG CpuTime(HANDLE hProcess);
