#include "Client/WinNT/ProcessMonitor.h"

#include "Client/WinNT/ForegroundSet.h"
#include "Client/WinNT/Logger.h"
#include "Common/Records/EventLine.h"
#include "Common/Text.h"

#include <cstring>
#include <utility>

namespace
{
constexpr DWORD PLATFORM_9X = VER_PLATFORM_WIN32_WINDOWS;
constexpr DWORD PLATFORM_NT = VER_PLATFORM_WIN32_NT;

// The NT id list starts with room for 256 processes and doubles while full.
constexpr DWORD FIRST_ID_BUFFER_SIZE = 1024;
// Room for the TOKEN_USER of any account SID.
constexpr DWORD TOKEN_USER_BUFFER_SIZE = 260;
constexpr DWORD ACCOUNT_NAME_SIZE = 130;

constexpr UINT NO_PARTNER = 0xFFFFFFFF;

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA is given the classic structure");

// GetProcAddress gives a generic pointer; the detour through void (*)()
// tells the compiler that the cast to the real signature is intended.
template <typename PFN>
bool BindEntryPoint(HMODULE hModule, const char* pszName, PFN& pfn)
{
    pfn = reinterpret_cast<PFN>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pszName)));
    return pfn != nullptr;
}

ULONGLONG ToCount(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The process's creation time as local time; left alone when unreadable.
void ReadStartTime(HANDLE hProcess, SYSTEMTIME& stStart)
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess, &ftCreation, &ftExit, &ftKernel, &ftUser))
        return;
    SYSTEMTIME stUtc, stLocal;
    if (FileTimeToSystemTime(&ftCreation, &stUtc) && SystemTimeToTzSpecificLocalTime(nullptr, &stUtc, &stLocal))
        stStart = stLocal;
}

// The account name (without domain) of the process's token; left empty
// when any step fails.
void ReadOwner(HANDLE hProcess, char (&szUser)[ACCOUNT_NAME_SIZE])
{
    HANDLE hTokenRaw = nullptr;
    if (!OpenProcessToken(hProcess, TOKEN_QUERY, &hTokenRaw))
        return;
    CHandle hToken(hTokenRaw);
    CLocalMem buffer(LocalAlloc(LMEM_FIXED, TOKEN_USER_BUFFER_SIZE));
    if (!buffer)
        return;
    DWORD cbNeeded = 0;
    if (!GetTokenInformation(hToken.Get(), TokenUser, buffer.Get(), TOKEN_USER_BUFFER_SIZE, &cbNeeded))
        return;
    char szName[ACCOUNT_NAME_SIZE];
    char szDomain[ACCOUNT_NAME_SIZE];
    DWORD cchName = ACCOUNT_NAME_SIZE;
    DWORD cchDomain = ACCOUNT_NAME_SIZE;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, static_cast<TOKEN_USER*>(buffer.Get())->User.Sid, szName, &cchName, szDomain,
                          &cchDomain, &use))
        CopyText(szUser, szName);
}

// FindFirstFileA would match a wildcard against some other file and give
// that file's name: such a component is no name of the path's own.
bool HasWildcard(const char* pszComponent)
{
    return strpbrk(pszComponent, "*?") != nullptr;
}

bool IsLowerCaseLetter(char c)
{
    return IsCharAlphaA(c) && IsCharLowerA(c);
}
}  // namespace

CProcessMonitor::CProcessMonitor(bool bAllStations) : m_bAllStations(bAllStations)
{
    DetectPlatform();
    Bind(g_dwPlatformId);
}

CProcessMonitor::CProcessMonitor(bool bAllStations, DWORD dwBindPlatformId) : m_bAllStations(bAllStations)
{
    DetectPlatform();
    Bind(dwBindPlatformId);
}

CProcessMonitor::~CProcessMonitor()
{
    // The monitor owns the handles of the entries it never reported finished.
    for (UINT i = 0; i < m_Processes.GetCount(); ++i)
    {
        if (m_Processes[i].hProcess)
            CloseHandle(m_Processes[i].hProcess);
    }
}

void CProcessMonitor::DetectPlatform()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExA(&info))
        g_dwPlatformId = info.dwPlatformId;
    // Connects the process to its window station and desktop before the
    // service's first sampling.
    GetDesktopWindow();
}

void CProcessMonitor::Bind(DWORD dwPlatformId)
{
    m_dwPlatformId = dwPlatformId;
    if (dwPlatformId == PLATFORM_NT)
        m_bUsable = BindPsapi();
    else if (dwPlatformId == PLATFORM_9X)
        m_bUsable = BindToolhelp();
    // Nothing reads this quit request (the client has no message loop). The
    // unusable monitor calls none of its entry points, bound or not: its
    // ticks do nothing and the service goes on logging its start and stop.
    if (!m_bUsable)
        PostQuitMessage(1);
}

bool CProcessMonitor::BindToolhelp()
{
    CModule hKernel32(LoadLibraryA("Kernel32.DLL"));
    if (!hKernel32)
        return false;
    if (!BindEntryPoint(hKernel32.Get(), "CreateToolhelp32Snapshot", m_pfnCreateToolhelp32Snapshot) ||
        !BindEntryPoint(hKernel32.Get(), "Process32First", m_pfnProcess32First) ||
        !BindEntryPoint(hKernel32.Get(), "Process32Next", m_pfnProcess32Next) ||
        !BindEntryPoint(hKernel32.Get(), "Thread32First", m_pfnThread32First) ||
        !BindEntryPoint(hKernel32.Get(), "Thread32Next", m_pfnThread32Next))
        return false;
    m_hKernel32 = std::move(hKernel32);
    return true;
}

bool CProcessMonitor::BindPsapi()
{
    CModule hPsapi(LoadLibraryA("PSAPI.DLL"));
    if (!hPsapi)
        return false;
    if (!BindEntryPoint(hPsapi.Get(), "EnumProcesses", m_pfnEnumProcesses) ||
        !BindEntryPoint(hPsapi.Get(), "EnumProcessModules", m_pfnEnumProcessModules) ||
        !BindEntryPoint(hPsapi.Get(), "GetModuleFileNameExA", m_pfnGetModuleFileNameExA))
        return false;
    m_hPsapi = std::move(hPsapi);
    return true;
}

bool CProcessMonitor::HasChanged() const
{
    if (!m_bUsable)
        return false;
    return m_dwPlatformId == PLATFORM_NT ? HasChangedPsapi() : HasChangedToolhelp();
}

// Walks the snapshot beside the list. A snapshot that cannot be taken or
// read counts as no change: reporting every program as finished would be false.
bool CProcessMonitor::HasChangedToolhelp() const
{
    CFileHandle hSnapshot(m_pfnCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return false;
    PROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    if (!m_pfnProcess32First(hSnapshot.Get(), &process))
        return false;
    const UINT nCount = m_Processes.GetCount();
    UINT i = 0;
    do
    {
        if (i >= nCount)
            return true;
        const ProcessEntry& entry = m_Processes[i];
        if (process.th32ProcessID != entry.dwProcessId)
            return true;
        if (!entry.szProgram[0] && process.szExeFile[0])
            return true;
        ++i;
    } while (m_pfnProcess32Next(hSnapshot.Get(), &process));
    return i != nCount;
}

// Compares the ids index by index and retries the names of nameless
// entries; ids that cannot be read count as no change.
bool CProcessMonitor::HasChangedPsapi() const
{
    CLocalMem ids;
    DWORD nIds = 0;
    if (!ReadProcessIds(ids, nIds))
        return false;
    if (nIds != m_Processes.GetCount())
        return true;
    const DWORD* pIds = static_cast<const DWORD*>(ids.Get());
    for (UINT i = 0; i < nIds; ++i)
    {
        const ProcessEntry& entry = m_Processes[i];
        if (pIds[i] != entry.dwProcessId)
            return true;
        if (pIds[i] == 0 || entry.szProgram[0])
            continue;
        CHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pIds[i]));
        if (!hProcess)
            continue;
        char szProgram[MAX_PATH];
        ReadProgramName(hProcess.Get(), szProgram);
        if (szProgram[0])
            return true;
    }
    return false;
}

// EnumProcesses gives no count of its own: a buffer it fills completely may
// have been too small, so it is doubled until some room is left.
bool CProcessMonitor::ReadProcessIds(CLocalMem& ids, DWORD& nIds) const
{
    for (DWORD cbBuffer = FIRST_ID_BUFFER_SIZE; cbBuffer != 0; cbBuffer *= 2)
    {
        ids.Reset(LocalAlloc(LMEM_FIXED, cbBuffer));
        if (!ids)
            return false;
        DWORD cbReturned = 0;
        if (!m_pfnEnumProcesses(static_cast<DWORD*>(ids.Get()), cbBuffer, &cbReturned))
            return false;
        if (cbReturned < cbBuffer)
        {
            nIds = cbReturned / sizeof(DWORD);
            return true;
        }
    }
    return false;
}

// The file name of the process's first module; empty when unreadable.
void CProcessMonitor::ReadProgramName(HANDLE hProcess, char (&szProgram)[MAX_PATH]) const
{
    szProgram[0] = '\0';
    HMODULE hModule = nullptr;
    DWORD cbNeeded = 0;
    if (!m_pfnEnumProcessModules(hProcess, &hModule, sizeof hModule, &cbNeeded))
        return;
    if (m_pfnGetModuleFileNameExA(hProcess, hModule, szProgram, MAX_PATH) == 0)
        szProgram[0] = '\0';
    // Older systems leave a cut name unterminated.
    szProgram[MAX_PATH - 1] = '\0';
}

bool CProcessMonitor::ReadSnapshot(CProcessList& fresh) const
{
    return m_dwPlatformId == PLATFORM_NT ? ReadSnapshotPsapi(fresh) : ReadSnapshotToolhelp(fresh);
}

// Toolhelp gives no start time: a process counts as started when first seen.
bool CProcessMonitor::ReadSnapshotToolhelp(CProcessList& fresh) const
{
    CFileHandle hSnapshot(m_pfnCreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot)
        return false;
    PROCESSENTRY32 process = {};
    process.dwSize = sizeof process;
    if (!m_pfnProcess32First(hSnapshot.Get(), &process))
        return false;
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    do
    {
        ProcessEntry entry = {};
        CopyText(entry.szProgram, process.szExeFile);
        entry.dwProcessId = process.th32ProcessID;
        entry.stStart = stNow;
        if (!fresh.Append(entry))
            return false;
    } while (m_pfnProcess32Next(hSnapshot.Get(), &process));
    return true;
}

bool CProcessMonitor::ReadSnapshotPsapi(CProcessList& fresh) const
{
    CLocalMem ids;
    DWORD nIds = 0;
    if (!ReadProcessIds(ids, nIds))
        return false;
    const DWORD* pIds = static_cast<const DWORD*>(ids.Get());
    for (UINT i = 0; i < nIds; ++i)
    {
        ProcessEntry entry = {};
        entry.dwProcessId = pIds[i];
        CHandle hProcess(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pIds[i]));
        if (hProcess)
        {
            ReadProgramName(hProcess.Get(), entry.szProgram);
            ReadStartTime(hProcess.Get(), entry.stStart);
            ReadOwner(hProcess.Get(), entry.szUser);
        }
        if (!fresh.Append(entry))
            return false;
    }
    return true;
}

bool CProcessMonitor::Update(bool bForce, CProcessList& started, CProcessList& finished)
{
    started.Clear();
    finished.Clear();
    if (!m_bUsable)
        return false;
    if (!bForce && !HasChanged())
        return false;

    CProcessList fresh;
    if (!ReadSnapshot(fresh))
        return false;
    // Everything that allocates comes before the list is replaced, so that
    // an update either completes or leaves the monitor as it was.
    CItemArrayOf<UINT> newcomers;
    if (!Match(fresh, started, newcomers, finished) || !m_Processes.CopyFrom(fresh))
    {
        started.Clear();
        finished.Clear();
        return false;
    }
    // The handle that will give the CPU time at the finish lives in the
    // listed entry and is carried with it from snapshot to snapshot.
    for (UINT k = 0; k < newcomers.GetCount(); ++k)
    {
        ProcessEntry& entry = m_Processes[newcomers[k]];
        if (m_dwPlatformId == PLATFORM_NT)
            entry.hProcess = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.dwProcessId);
        started[k].hProcess = entry.hProcess;
    }
    return started.GetCount() > 0 || finished.GetCount() > 0;
}

// A process is the pair (id, raw path): each fresh entry takes over its
// partner's whole old entry; named entries without one have started, and
// named old entries that no fresh entry took over have finished.
bool CProcessMonitor::Match(CProcessList& fresh, CProcessList& started, CItemArrayOf<UINT>& newcomers,
                            CProcessList& finished) const
{
    const UINT nOld = m_Processes.GetCount();
    CItemArrayOf<DWORD> matched(nOld, nOld);
    if (matched.GetCount() != nOld)
        return false;
    for (UINT i = 0; i < fresh.GetCount(); ++i)
    {
        ProcessEntry& entry = fresh[i];
        UINT nPartner = FindPartner(entry, i);
        if (nPartner != NO_PARTNER)
        {
            matched[nPartner] = TRUE;
            entry = m_Processes[nPartner];
        }
        else if (entry.szProgram[0])
        {
            if (!started.Append(entry) || !newcomers.Append(i))
                return false;
        }
    }
    for (UINT j = 0; j < nOld; ++j)
    {
        if (!matched[j] && m_Processes[j].szProgram[0] && !finished.Append(m_Processes[j]))
            return false;
    }
    return true;
}

// The old entry at the same index is the likely partner; otherwise the
// first one with the same id and path.
UINT CProcessMonitor::FindPartner(const ProcessEntry& entry, UINT nIndex) const
{
    auto IsPartner = [&](UINT j) {
        const ProcessEntry& old = m_Processes[j];
        return old.dwProcessId == entry.dwProcessId && lstrcmpA(old.szProgram, entry.szProgram) == 0;
    };
    const UINT nOld = m_Processes.GetCount();
    if (nIndex < nOld && IsPartner(nIndex))
        return nIndex;
    for (UINT j = 0; j < nOld; ++j)
    {
        if (IsPartner(j))
            return j;
    }
    return NO_PARTNER;
}

char* CProcessMonitor::CanonicalizePath(char* pszPath)
{
    char szWork[MAX_PATH];
    CopyText(szWork, pszPath);
    char szResult[MAX_PATH] = "";
    bool bFirst = true;
    char* pszNext = szWork;
    for (;;)
    {
        // Runs of backslashes are one separator; empty components are skipped.
        while (*pszNext == '\\')
            ++pszNext;
        if (!*pszNext)
            break;
        char* pszComponent = pszNext;
        while (*pszNext && *pszNext != '\\')
            ++pszNext;
        if (*pszNext)
            *pszNext++ = '\0';

        // The first component, the drive of a normal path, keeps its case.
        if (bFirst)
        {
            CopyText(szResult, pszComponent);
            bFirst = false;
            continue;
        }
        if (!AppendText(szResult, "\\"))
            return pszPath;
        char szLookup[MAX_PATH];
        CopyText(szLookup, szResult);
        if (HasWildcard(pszComponent) || !AppendText(szLookup, pszComponent))
            return pszPath;
        WIN32_FIND_DATAA found;
        CFindHandle hFind(FindFirstFileA(szLookup, &found));
        if (!hFind || !AppendText(szResult, found.cFileName))
            return pszPath;
    }
    if (bFirst)
        return pszPath;

    // A final name with an extension and no lower-case letter at all, as old
    // tools stored it, reads as Name.ext.
    char* pszLastSlash = strrchr(szResult, '\\');
    char* pszLastDot = strrchr(szResult, '.');
    if (pszLastSlash && pszLastDot > pszLastSlash)
    {
        char* pszName = pszLastSlash + 1;
        bool bHasLower = false;
        for (const char* p = pszName; *p; ++p)
            bHasLower = bHasLower || IsLowerCaseLetter(*p);
        DWORD cchRest = static_cast<DWORD>(strlen(pszName));
        if (!bHasLower && cchRest > 1)
            CharLowerBuffA(pszName + 1, cchRest - 1);
    }
    CopyText(pszPath, MAX_PATH, szResult);
    return pszPath;
}

BYTE CProcessMonitor::ActivityPercentage(int nActiveTicks, int nTicks)
{
    if (nActiveTicks == 0 || nTicks == 0)
        return NO_ACTIVITY;
    // In 64 bits the product cannot overflow, however long a program runs.
    const long long llProduct = static_cast<long long>(nActiveTicks) * 100;
    long long llPercent = llProduct / nTicks;
    if (2 * (llProduct % nTicks) >= nTicks)
        ++llPercent;
    return static_cast<BYTE>(llPercent);
}

// Kernel plus user time of a finished entry through the handle kept since
// its start. The handle is closed here whatever happens.
ULONGLONG CProcessMonitor::TakeCpuTime(ProcessEntry& entry) const
{
    CHandle hProcess(entry.hProcess);
    entry.hProcess = nullptr;
    if (m_dwPlatformId != PLATFORM_NT || !hProcess)
        return NO_CPU_TIME;
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess.Get(), &ftCreation, &ftExit, &ftKernel, &ftUser))
        return NO_CPU_TIME;
    return ToCount(ftKernel) + ToCount(ftUser);
}

void CProcessMonitor::Tick(bool bForce)
{
    if (!m_bUsable)
        return;
    // Declared before the lock, so they are freed after it is left.
    CProcessList started;
    CProcessList finished;
    CAutoLock lock(m_Lock);
    if (Update(bForce, started, finished))
    {
        for (UINT i = 0; i < started.GetCount(); ++i)
        {
            ProcessEntry& entry = started[i];
            CanonicalizePath(entry.szProgram);
            EmitTracked(entry);
        }
        for (UINT i = 0; i < finished.GetCount(); ++i)
        {
            ProcessEntry& entry = finished[i];
            BYTE bActivity = ActivityPercentage(entry.nActiveTicks, entry.nTicks);
            ULONGLONG ullCpuTime = TakeCpuTime(entry);
            CanonicalizePath(entry.szProgram);
            EmitFinished(entry, ullCpuTime, bActivity);
        }
    }
    CountTick();
}

// Samples the foreground and counts this tick for every listed process,
// named or not, whether or not anything started or finished.
void CProcessMonitor::CountTick()
{
    CForegroundSet foreground;
    if (m_dwPlatformId == PLATFORM_NT && m_bAllStations)
        foreground.SampleAllStations();
    else
        foreground.SampleCurrentDesktop();
    for (UINT i = 0; i < m_Processes.GetCount(); ++i)
    {
        ProcessEntry& entry = m_Processes[i];
        if (foreground.Contains(entry.dwProcessId))
            ++entry.nActiveTicks;
        ++entry.nTicks;
    }
}

void CProcessMonitor::EmitTracked(const ProcessEntry& entry)
{
    g_Logger.LogTracked(entry.szProgram, entry.dwProcessId, entry.szUser);
}

void CProcessMonitor::EmitFinished(const ProcessEntry& entry, ULONGLONG ullCpuTime, BYTE bActivity)
{
    g_Logger.LogFinished(entry.szProgram, entry.dwProcessId, entry.stStart, ullCpuTime, bActivity, entry.szUser);
}
