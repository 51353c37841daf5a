#include "Benchmarks/Support/Measure.h"

#include "Common/Text.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{
// Clock ticks per second of the host's /proc/<pid>/stat times.
constexpr double HOST_CLOCK_TICKS = 100.0;

const char ACKNOWLEDGEMENT[8] = {'w', 'r', 'i', 't', 't', 'e', 'n', '\0'};

double FileTimeSeconds(const FILETIME& ft)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return static_cast<double>(u.QuadPart) / 1e7;
}

// The whole content of a small file; /proc files report size 0, so read to the end.
std::string ReadSmallFile(const std::string& strPath)
{
    CFileHandle file(CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    std::string strContent;
    if (!file)
        return strContent;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        strContent.append(buffer, cbRead);
    return strContent;
}

// utime + stime of a /proc/<pid>/stat text, in seconds; negative when malformed.
double StatCpuSeconds(const std::string& strStat)
{
    // The command name in parentheses may hold blanks: fields count from the last ')'.
    size_t nClose = strStat.rfind(')');
    if (nClose == std::string::npos)
        return -1;
    unsigned long long ullUser = 0, ullSystem = 0;
    if (sscanf(strStat.c_str() + nClose + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
               &ullUser, &ullSystem) != 2)
        return -1;
    return static_cast<double>(ullUser + ullSystem) / HOST_CLOCK_TICKS;
}

SC_HANDLE OpenScm()
{
    return OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
}

bool QueryStatus(SC_HANDLE hService, SERVICE_STATUS_PROCESS& status)
{
    DWORD cbNeeded = 0;
    return QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &cbNeeded) != FALSE;
}

// Polls until the service reports dwState or the time is up.
bool WaitForState(SC_HANDLE hService, DWORD dwState, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    for (;;)
    {
        SERVICE_STATUS_PROCESS status = {};
        if (!QueryStatus(hService, status))
            return false;
        if (status.dwCurrentState == dwState)
            return true;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(50);
    }
}
}  // namespace

double NowSeconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ThreadCpuSeconds()
{
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetThreadTimes(GetCurrentThread(), &ftCreation, &ftExit, &ftKernel, &ftUser))
        return 0;
    return FileTimeSeconds(ftKernel) + FileTimeSeconds(ftUser);
}

double WineServerCpuSeconds()
{
    std::string strStat = ReadSmallFile("Z:\\proc\\self\\stat");
    if (strStat.find("(wineserver") == std::string::npos)
        return -1;
    return StatCpuSeconds(strStat);
}

double HostProcessCpuSeconds(DWORD dwHostPid)
{
    return StatCpuSeconds(ReadSmallFile("Z:\\proc\\" + std::to_string(dwHostPid) + "\\stat"));
}

DWORD FindHostPid(const char* pszProgramPath)
{
    WIN32_FIND_DATAA found;
    CFindHandle find(FindFirstFileA("Z:\\proc\\*", &found));
    if (!find)
        return 0;
    DWORD dwMatch = 0;
    int nMatches = 0;
    do
    {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9')
            continue;
        // argv[0] of a Wine process is the Windows path of its program.
        std::string strCmdLine = ReadSmallFile(std::string("Z:\\proc\\") + found.cFileName + "\\cmdline");
        if (lstrcmpiA(strCmdLine.c_str(), pszProgramPath) == 0)
        {
            dwMatch = strtoul(found.cFileName, nullptr, 10);
            ++nMatches;
        }
    } while (FindNextFileA(find.Get(), &found));
    return nMatches == 1 ? dwMatch : 0;
}

SIZE_T PrivateBytes(HANDLE hProcess)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters)))
        return 0;
    return counters.PagefileUsage;
}

double Percentile(std::vector<double>& values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t nIndex = static_cast<size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(nIndex, values.size() - 1)];
}

std::string SiblingPath(const char* pszName)
{
    char szPath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    char* pszSlash = strrchr(szPath, '\\');
    if (pszSlash)
        pszSlash[1] = '\0';
    return std::string(szPath) + pszName;
}

DWORD RunToEnd(const std::string& strCommandLine, DWORD dwTimeoutMs)
{
    std::vector<char> commandLine(strCommandLine.begin(), strCommandLine.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0xFFFFFFFF;
    CHandle process(info.hProcess);
    CHandle thread(info.hThread);
    DWORD dwExitCode = 0xFFFFFFFF;
    if (WaitForSingleObject(process.Get(), dwTimeoutMs) != WAIT_OBJECT_0)
    {
        TerminateProcess(process.Get(), 0xFFFFFFFF);
        WaitForSingleObject(process.Get(), 5000);
        return 0xFFFFFFFF;
    }
    GetExitCodeProcess(process.Get(), &dwExitCode);
    return dwExitCode;
}

bool StartServiceAndWait(const char* pszName, DWORD dwTimeoutMs)
{
    CScHandle scm(OpenScm());
    CScHandle service(scm ? OpenServiceA(scm.Get(), pszName, SERVICE_START | SERVICE_QUERY_STATUS) : nullptr);
    if (!service)
        return false;
    if (!StartServiceA(service.Get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    return WaitForState(service.Get(), SERVICE_RUNNING, dwTimeoutMs);
}

bool StopServiceAndWait(const char* pszName, DWORD dwTimeoutMs)
{
    CScHandle scm(OpenScm());
    CScHandle service(scm ? OpenServiceA(scm.Get(), pszName, SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr);
    if (!service)
        return false;
    SERVICE_STATUS status = {};
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
    return WaitForState(service.Get(), SERVICE_STOPPED, dwTimeoutMs);
}

bool KillService(const char* pszName, DWORD dwTimeoutMs)
{
    CScHandle scm(OpenScm());
    CScHandle service(scm ? OpenServiceA(scm.Get(), pszName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    if (!service || !QueryStatus(service.Get(), status) || status.dwProcessId == 0)
        return false;
    CHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
    if (!process || !TerminateProcess(process.Get(), 1))
        return false;
    if (WaitForSingleObject(process.Get(), dwTimeoutMs) != WAIT_OBJECT_0)
        return false;
    // On Windows the SCM sees the exit itself. Wine's SCM notices it only
    // when it next sends a control, and may go on reporting "running" even
    // then; a new start works all the same, so one stop control is enough.
    CScHandle control(OpenServiceA(scm.Get(), pszName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (control)
    {
        SERVICE_STATUS stopped = {};
        ControlService(control.Get(), SERVICE_CONTROL_STOP, &stopped);
        WaitForState(service.Get(), SERVICE_STOPPED, 3000);
    }
    return true;
}

bool StopServiceAndWaitForExit(const char* pszName, DWORD dwTimeoutMs)
{
    DWORD dwProcessId = ServiceProcessId(pszName);
    CHandle process(dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, dwProcessId) : nullptr);
    if (!StopServiceAndWait(pszName, dwTimeoutMs))
        return false;
    return !process || WaitForSingleObject(process.Get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

DWORD ServiceProcessId(const char* pszName)
{
    CScHandle scm(OpenScm());
    CScHandle service(scm ? OpenServiceA(scm.Get(), pszName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    if (!service || !QueryStatus(service.Get(), status) || status.dwCurrentState != SERVICE_RUNNING)
        return 0;
    return status.dwProcessId;
}

DWORD ServiceState(const char* pszName)
{
    CScHandle scm(OpenScm());
    CScHandle service(scm ? OpenServiceA(scm.Get(), pszName, SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS_PROCESS status = {};
    if (!service || !QueryStatus(service.Get(), status))
        return 0;
    return status.dwCurrentState;
}

CIdleHelpers::~CIdleHelpers()
{
    while (!m_Processes.empty())
        EndOne();
}

bool CIdleHelpers::StartOne()
{
    // The helper signals this event once it runs, so a measurement that
    // follows does not see its start-up.
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    CHandle ready(CreateEventA(&inherit, TRUE, FALSE, nullptr));
    HANDLE hSelf = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &hSelf, SYNCHRONIZE, TRUE, 0);
    CHandle self(hSelf);
    if (!ready || !self)
        return false;
    char szArgs[64];
    snprintf(szArgs, sizeof(szArgs), " %llu %llu", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hSelf)),
             static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(ready.Get())));
    std::string strCommandLine = "\"" + SiblingPath("BenchIdle.exe") + "\"" + szArgs;
    std::vector<char> commandLine(strCommandLine.begin(), strCommandLine.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    HANDLE waits[2] = {ready.Get(), info.hProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0)
    {
        TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hProcess);
        return false;
    }
    m_Processes.push_back(info.hProcess);
    return true;
}

bool CIdleHelpers::EndOne()
{
    if (m_Processes.empty())
        return false;
    CHandle process(m_Processes.back());
    m_Processes.pop_back();
    TerminateProcess(process.Get(), 0);
    return WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0;
}

EventRecord MakeLoadRecord(const char* pszTag, DWORD nSeq)
{
    EventRecord record = {};
    SYSTEMTIME st;
    GetLocalTime(&st);
    snprintf(record.szDateTime, sizeof(record.szDateTime), "%02u/%02u/%04u %02u:%02u:%02u", st.wDay, st.wMonth,
             st.wYear, st.wHour, st.wMinute, st.wSecond);
    CopyText(record.szMachine, sizeof(record.szMachine), "LOADHOST");
    CopyText(record.szUser, sizeof(record.szUser), "loader");
    record.nType = EVENT_TRACKED;
    CopyText(record.szEvent, sizeof(record.szEvent), "Tracked");
    snprintf(record.szProgram, sizeof(record.szProgram), "C:\\Load\\%s\\%lu.exe", pszTag,
             static_cast<unsigned long>(nSeq));
    record.dwProcessId = nSeq;
    record.bActivity = NO_ACTIVITY;
    return record;
}

std::string LoadRecordMark(const char* pszTag, DWORD nSeq)
{
    return std::string("\\Load\\") + pszTag + "\\" + std::to_string(nSeq) + ".exe";
}

bool CWireClient::Connect(DWORD dwTimeoutMs)
{
    m_Socket.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!m_Socket)
        return false;
    DWORD dwTimeout = dwTimeoutMs;
    setsockopt(m_Socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    setsockopt(m_Socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    BOOL bNoDelay = TRUE;
    setsockopt(m_Socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof(bNoDelay));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(6401);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(m_Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        m_Socket.Close();
        return false;
    }
    return true;
}

bool CWireClient::SendBytes(const void* pvData, int cbData)
{
    const char* pcData = static_cast<const char*>(pvData);
    while (cbData > 0)
    {
        int nSent = send(m_Socket.Get(), pcData, cbData, 0);
        if (nSent <= 0)
            return false;
        pcData += nSent;
        cbData -= nSent;
    }
    return true;
}

int CWireClient::ReceiveBytes(void* pvData, int cbMax)
{
    char* pcData = static_cast<char*>(pvData);
    int cbTotal = 0;
    while (cbTotal < cbMax)
    {
        int nReceived = recv(m_Socket.Get(), pcData + cbTotal, cbMax - cbTotal, 0);
        if (nReceived <= 0)
            break;
        cbTotal += nReceived;
    }
    return cbTotal;
}

bool CWireClient::SendRecord(const EventRecord& record)
{
    char reply[sizeof(ACKNOWLEDGEMENT)] = {};
    bool bAcknowledged = m_Socket && SendBytes(&record, sizeof(record)) &&
                         ReceiveBytes(reply, sizeof(reply)) == sizeof(reply) &&
                         memcmp(reply, ACKNOWLEDGEMENT, sizeof(reply)) == 0;
    if (!bAcknowledged)
        m_Socket.Close();
    return bAcknowledged;
}

CWinsock::CWinsock()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

CWinsock::~CWinsock()
{
    WSACleanup();
}

std::vector<std::string> ReadLines(const std::string& strPath)
{
    std::string strContent = ReadSmallFile(strPath);
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < strContent.size())
    {
        size_t nEnd = strContent.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = strContent.size();
        std::string strLine = strContent.substr(nStart, nEnd - nStart);
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        lines.push_back(strLine);
        nStart = nEnd + 1;
    }
    return lines;
}

void PrintRow(const std::string& strBenchmark, const std::string& strFigure, const std::string& strValue,
              const std::string& strBaseline, const std::string& strRatio, const std::string& strGoal,
              const std::string& strMet, const std::string& strNote)
{
    printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", strBenchmark.c_str(), strFigure.c_str(), strValue.c_str(),
           strBaseline.c_str(), strRatio.c_str(), strGoal.c_str(), strMet.c_str(), strNote.c_str());
    fflush(stdout);
}

std::string Num(double dValue, int nDigits)
{
    char szText[64];
    snprintf(szText, sizeof(szText), "%.*f", nDigits, dValue);
    return szText;
}
