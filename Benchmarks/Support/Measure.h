// What the benchmarks and the fault cases measure with: clocks, CPU times,
// private bytes, the services under measurement, idle helper processes and
// a bare client of the delivery protocol that knows exactly which record was
// acknowledged.
#pragma once

#include "Common/Win32.h"
#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"

#include <string>
#include <vector>

// Seconds on the performance counter.
double NowSeconds();
// Kernel plus user time of the calling thread, in seconds.
double ThreadCpuSeconds();

// Under Wine the host's /proc is visible through drive Z:. Files are opened
// by the wineserver, so /proc/self is the wineserver of this prefix, which
// does the work that Windows would charge as kernel time of the caller.
// CPU seconds of that wineserver; negative when not under Wine.
double WineServerCpuSeconds();
// CPU seconds of a host process by its host pid; negative when unreadable.
double HostProcessCpuSeconds(DWORD dwHostPid);
// Host pid of the running Windows program whose path is pszProgramPath
// (compared without letter case); 0 when none or more than one is found.
DWORD FindHostPid(const char* pszProgramPath);

// Private bytes of a process: its commit charge (PagefileUsage, which is
// PrivateUsage on Windows; Wine reports resident anonymous memory there and
// leaves PrivateUsage zero). 0 when it cannot be read.
SIZE_T PrivateBytes(HANDLE hProcess);

// The p-th percentile (0 to 100) of the values, which it sorts.
double Percentile(std::vector<double>& values, double p);

// Full path of a program beside the running one.
std::string SiblingPath(const char* pszName);
// Runs a command line to its end; its exit code, or 0xFFFFFFFF on failure
// or after dwTimeoutMs (the program is then killed).
DWORD RunToEnd(const std::string& strCommandLine, DWORD dwTimeoutMs = 60000);

// The services under measurement, through the SCM.
bool StartServiceAndWait(const char* pszName, DWORD dwTimeoutMs = 30000);
bool StopServiceAndWait(const char* pszName, DWORD dwTimeoutMs = 60000);
// Stops the service and also waits until its process has ended: the
// client reports stopped before its last delivery pass and spill.
bool StopServiceAndWaitForExit(const char* pszName, DWORD dwTimeoutMs = 120000);
// Ends the service's process as a crash would and waits until the SCM
// reports it stopped.
bool KillService(const char* pszName, DWORD dwTimeoutMs = 30000);
// 0 when the service is not running.
DWORD ServiceProcessId(const char* pszName);
DWORD ServiceState(const char* pszName);

// Idle helper processes (BenchIdle.exe), each waiting for this process to
// end; all of them are ended when the object goes.
class CIdleHelpers
{
public:
    CIdleHelpers() = default;
    ~CIdleHelpers();

    CIdleHelpers(const CIdleHelpers&) = delete;
    CIdleHelpers& operator=(const CIdleHelpers&) = delete;

    // Starts one more helper and waits until it runs; false on failure.
    bool StartOne();
    // Ends the newest helper and waits until it is gone.
    bool EndOne();
    size_t Count() const { return m_Processes.size(); }

private:
    std::vector<HANDLE> m_Processes;
};

// A record with a unique program path "C:\Load\<tag>\<nSeq>.exe" and
// process id nSeq, so its line can be found in a log.
EventRecord MakeLoadRecord(const char* pszTag, DWORD nSeq);
// The text that marks the record's line in a log.
std::string LoadRecordMark(const char* pszTag, DWORD nSeq);

// One connection to the collecting server on 127.0.0.1:6401 that sends a
// record, then waits for its whole acknowledgement.
class CWireClient
{
public:
    // Connects with send and receive time-outs of dwTimeoutMs.
    bool Connect(DWORD dwTimeoutMs = 5000);
    // Sends the 784 bytes and waits for "written" and its zero byte; true
    // only when exactly that arrived. The connection is closed on failure.
    bool SendRecord(const EventRecord& record);
    // Sends raw bytes; true when all were taken.
    bool SendBytes(const void* pvData, int cbData);
    // Reads up to cbMax bytes until they are there, the peer closes or the
    // time-out ends; the number read.
    int ReceiveBytes(void* pvData, int cbMax);
    bool IsConnected() const { return m_Socket.IsValid(); }
    void Close() { m_Socket.Close(); }

private:
    CSocket m_Socket;
};

// Starts Windows Sockets for the life of the object.
class CWinsock
{
public:
    CWinsock();
    ~CWinsock();
    CWinsock(const CWinsock&) = delete;
    CWinsock& operator=(const CWinsock&) = delete;
};

// Every line of a text file (CR LF or LF ends a line); a trailing piece
// without line end is a line too.
std::vector<std::string> ReadLines(const std::string& strPath);

// One row of the benchmark table, tab-separated after "ROW": benchmark,
// figure, value, baseline, ratio, goal, met ("yes", "no" or "-"), note.
void PrintRow(const std::string& strBenchmark, const std::string& strFigure,
              const std::string& strValue, const std::string& strBaseline,
              const std::string& strRatio, const std::string& strGoal,
              const std::string& strMet, const std::string& strNote = "");
// A number with nDigits decimals.
std::string Num(double dValue, int nDigits = 1);
