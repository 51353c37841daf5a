#include "Tests/Monitor/MonitorTestSupport.h"

#include "Tests/Support/TestProcess.h"

#include <psapi.h>

#include <algorithm>
#include <string>

CHelper::CHelper(const char* pszMode, DWORD dwMs)
{
    m_hProcess.Reset(StartProgram(Path(), std::string(pszMode) + " " + std::to_string(dwMs), &m_dwProcessId));
}

CHelper::~CHelper()
{
    if (IsRunning())
    {
        TerminateProcess(m_hProcess.Get(), 0xDEAD);
        WaitForEnd();
    }
}

bool CHelper::WaitForEnd(DWORD dwTimeoutMs) const
{
    return m_hProcess && WaitForSingleObject(m_hProcess.Get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

bool CHelper::WaitForForeground(DWORD dwTimeoutMs) const
{
    const DWORD dwStart = GetTickCount();
    do
    {
        DWORD dwOwner = 0;
        HWND hWnd = GetForegroundWindow();
        if (hWnd && GetWindowThreadProcessId(hWnd, &dwOwner) && dwOwner == m_dwProcessId)
            return true;
    } while (IsRunning() && WaitForSingleObject(m_hProcess.Get(), 20) == WAIT_TIMEOUT &&
             GetTickCount() - dwStart < dwTimeoutMs);
    return false;
}

std::string CHelper::Path()
{
    return ProgramPath("MonitorHelper.exe");
}

int CRecordingMonitor::Find(bool bFinished, DWORD dwProcessId) const
{
    for (size_t i = 0; i < m_Events.size(); ++i)
    {
        if (m_Events[i].bFinished == bFinished && m_Events[i].entry.dwProcessId == dwProcessId)
            return static_cast<int>(i);
    }
    return -1;
}

bool CRecordingMonitor::TickUntil(bool bFinished, DWORD dwProcessId, DWORD dwTimeoutMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;)
    {
        Tick(false);
        if (Find(bFinished, dwProcessId) >= 0)
            return true;
        if (GetTickCount() - dwStart >= dwTimeoutMs)
            return false;
        Sleep(50);
    }
}

void CRecordingMonitor::EmitTracked(const ProcessEntry& entry)
{
    m_Events.push_back({ false, entry, 0, 0 });
}

void CRecordingMonitor::EmitFinished(const ProcessEntry& entry, ULONGLONG ullCpuTime, BYTE bActivity)
{
    m_Events.push_back({ true, entry, ullCpuTime, bActivity });
}

const ProcessEntry* FindEntry(const CProcessList& list, DWORD dwProcessId)
{
    for (UINT i = 0; i < list.GetCount(); ++i)
    {
        if (list[i].dwProcessId == dwProcessId)
            return list.Get(i);
    }
    return nullptr;
}

std::string OwnPath()
{
    char szPath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    return szPath;
}

ULONGLONG CpuTime(HANDLE hProcess)
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess, &ftCreation, &ftExit, &ftKernel, &ftUser))
        return 0;
    auto Count = [](const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    return Count(ftKernel) + Count(ftUser);
}

namespace
{
std::vector<DWORD> ProcessIds()
{
    std::vector<DWORD> ids(4096);
    DWORD cbReturned = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &cbReturned))
        return {};
    ids.resize(cbReturned / sizeof(DWORD));
    std::sort(ids.begin(), ids.end());
    return ids;
}
}  // namespace

bool RunWhileQuiet(const std::function<void()>& attempt)
{
    for (int nAttempt = 0; nAttempt < 20; ++nAttempt)
    {
        const std::vector<DWORD> before = ProcessIds();
        attempt();
        if (ProcessIds() == before)
            return true;
        // Let the other test's program get going or finish.
        Sleep(200);
    }
    return false;
}
