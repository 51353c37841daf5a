// Server ingest and server memory: load generators on C connections, each
// sending records back to back and waiting for every acknowledgement, set
// against one thread that appends the same lines to a file in the same
// folder with one WriteFile and one FlushFileBuffers per line.
//   IngestBench.exe <server log folder> [seconds per run]
// The Quillfen service must be installed with -PATH <server log folder>.
#include "Benchmarks/Support/Measure.h"

#include "Common/Records/EventLine.h"

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace
{
const char SERVICE_NAME[] = "Quillfen";

struct LoadResult
{
    DWORD               nAcknowledged = 0;
    DWORD               nFailures = 0;
    double              dSeconds = 0;
    std::vector<double> latencies;  // seconds, one per acknowledged record
};

// Runs nConnections senders until dSeconds have passed or nRecords were
// acknowledged, whichever comes first.
LoadResult RunLoad(int nConnections, double dSeconds, DWORD nRecords, const char* pszTag, DWORD& nNextSeq)
{
    std::atomic<DWORD> nSeq(nNextSeq);
    std::atomic<bool> bStop(false);
    std::atomic<int> nReady(0);
    std::vector<LoadResult> perThread(nConnections);
    std::vector<std::thread> threads;
    const DWORD nLastSeq = nNextSeq + nRecords;
    HANDLE hGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < nConnections; ++i)
    {
        threads.emplace_back([&, i] {
            LoadResult& result = perThread[i];
            CWireClient client;
            client.Connect();
            ++nReady;
            WaitForSingleObject(hGo, INFINITE);
            while (!bStop)
            {
                DWORD n = nSeq++;
                if (n >= nLastSeq)
                    break;
                EventRecord record = MakeLoadRecord(pszTag, n);
                // A record that is not acknowledged is sent again, as the client does.
                for (int nTry = 0; nTry < 20 && !bStop; ++nTry)
                {
                    if (!client.IsConnected() && !client.Connect())
                    {
                        ++result.nFailures;
                        Sleep(50);
                        continue;
                    }
                    double t0 = NowSeconds();
                    if (client.SendRecord(record))
                    {
                        result.latencies.push_back(NowSeconds() - t0);
                        ++result.nAcknowledged;
                        break;
                    }
                    ++result.nFailures;
                }
            }
        });
    }
    while (nReady < nConnections)
        Sleep(10);
    double t0 = NowSeconds();
    SetEvent(hGo);
    while (NowSeconds() - t0 < dSeconds && nSeq < nLastSeq)
        Sleep(10);
    bStop = true;
    for (std::thread& thread : threads)
        thread.join();
    CloseHandle(hGo);

    LoadResult total;
    total.dSeconds = NowSeconds() - t0;
    for (LoadResult& result : perThread)
    {
        total.nAcknowledged += result.nAcknowledged;
        total.nFailures += result.nFailures;
        total.latencies.insert(total.latencies.end(), result.latencies.begin(), result.latencies.end());
    }
    nNextSeq = std::min<DWORD>(nSeq, nLastSeq);
    return total;
}

struct BaselineResult
{
    DWORD  nLines = 0;
    double dSeconds = 0;
};

// One thread writing and flushing one line at a time for dSeconds.
BaselineResult RunBaseline(const std::string& strFolder, double dSeconds)
{
    BaselineResult result;
    std::string strPath = strFolder + "\\baseline.log";
    CFileHandle file(CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return result;
    char szLine[EVENT_LINE_SIZE];
    double t0 = NowSeconds();
    while (NowSeconds() - t0 < dSeconds)
    {
        EventRecord record = MakeLoadRecord("baseline", result.nLines);
        FormatEventLine(&record, szLine);
        DWORD cbWritten = 0;
        WriteFile(file.Get(), szLine, static_cast<DWORD>(strlen(szLine)), &cbWritten, nullptr);
        FlushFileBuffers(file.Get());
        ++result.nLines;
    }
    result.dSeconds = NowSeconds() - t0;
    file.Close();
    DeleteFileA(strPath.c_str());
    return result;
}

// Lines of the log that carry the tag.
DWORD CountLogged(const std::string& strFolder, const char* pszTag)
{
    std::string strMark = std::string("\\Load\\") + pszTag + "\\";
    DWORD nCount = 0;
    for (const std::string& strLine : ReadLines(strFolder + "\\Process.log"))
        if (strLine.find(strMark) != std::string::npos)
            ++nCount;
    return nCount;
}

bool RestartServer(const std::string& strFolder)
{
    StopServiceAndWait(SERVICE_NAME);
    DeleteFileA((strFolder + "\\Process.log").c_str());
    DeleteFileA((strFolder + "\\Process.old.log").c_str());
    if (!StartServiceAndWait(SERVICE_NAME))
        return false;
    // The service reports running before it listens.
    CWireClient probe;
    for (int i = 0; i < 100 && !probe.Connect(); ++i)
        Sleep(100);
    return probe.IsConnected();
}

// The disk's flush rate drifts with whatever else the machine does, so the
// server and the baseline take turns in short slices and each sums its own.
void MeasureIngest(const std::string& strFolder, double dSeconds)
{
    const int nSlices = 3;
    const int connections[] = {1, 4, 19};
    for (int nConnections : connections)
    {
        if (!RestartServer(strFolder))
        {
            fprintf(stderr, "the server does not start\n");
            return;
        }
        char szTag[16];
        snprintf(szTag, sizeof(szTag), "c%d", nConnections);
        DWORD nSeq = 0;
        BaselineResult baseline;
        LoadResult load;
        for (int nSlice = 0; nSlice < nSlices; ++nSlice)
        {
            BaselineResult slice = RunBaseline(strFolder, dSeconds / nSlices);
            baseline.nLines += slice.nLines;
            baseline.dSeconds += slice.dSeconds;
            LoadResult result = RunLoad(nConnections, dSeconds / nSlices, 0xFFFFFFF, szTag, nSeq);
            load.nAcknowledged += result.nAcknowledged;
            load.nFailures += result.nFailures;
            load.dSeconds += result.dSeconds;
            load.latencies.insert(load.latencies.end(), result.latencies.begin(), result.latencies.end());
        }
        DWORD nLogged = CountLogged(strFolder, szTag);
        double dRate = load.nAcknowledged / load.dSeconds;
        double dBaseline = baseline.nLines / baseline.dSeconds;
        double dRatio = dBaseline > 0 ? dRate / dBaseline : 0;
        bool bGoal = nConnections != 4;
        std::string strConnections = "C=" + std::to_string(nConnections);
        PrintRow("Server ingest", strConnections + " acknowledged records/s", Num(dRate, 0),
                 "write+flush per line: " + Num(dBaseline, 0) + "/s", Num(dRatio, 2), bGoal ? ">= 0.9" : "-",
                 bGoal ? (dRatio >= 0.9 ? "yes" : "no") : "-",
                 std::to_string(load.nAcknowledged) + " acked, " + std::to_string(nLogged) + " lines, " +
                     std::to_string(load.nFailures) + " failed exchanges, " + Num(load.dSeconds, 0) + " s");
        double dP50 = Percentile(load.latencies, 50) * 1000;
        double dP99 = Percentile(load.latencies, 99) * 1000;
        PrintRow("Server ingest", strConnections + " ack latency p50 / p99", Num(dP50, 2) + " / " + Num(dP99, 2) + " ms",
                 "write+flush per line: " + Num(dBaseline > 0 ? 1000 / dBaseline : 0, 2) + " ms", "-", "-", "-");
    }
}

void MeasureMemory(const std::string& strFolder)
{
    if (!RestartServer(strFolder))
    {
        fprintf(stderr, "the server does not start\n");
        return;
    }
    CHandle server(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ServiceProcessId(SERVICE_NAME)));
    DWORD nSeq = 0;
    RunLoad(1, 600, 1000, "mem", nSeq);
    Sleep(1000);
    SIZE_T cbAfter1000 = PrivateBytes(server.Get());
    DWORD nAt1000 = nSeq;
    // Bounded in time: on a slow machine fewer records are sent, and the row says so.
    double t0 = NowSeconds();
    RunLoad(4, 420, 100000 - nSeq, "mem", nSeq);
    double dSeconds = NowSeconds() - t0;
    Sleep(1000);
    SIZE_T cbAfterAll = PrivateBytes(server.Get());
    double dGrowthKiB = (static_cast<double>(cbAfterAll) - static_cast<double>(cbAfter1000)) / 1024;
    PrintRow("Server memory", "private bytes after " + std::to_string(nAt1000) + " records",
             Num(cbAfter1000 / 1024.0, 0) + " KiB", "-", "-", "-", "-");
    PrintRow("Server memory", "private bytes after " + std::to_string(nSeq) + " records",
             Num(cbAfterAll / 1024.0, 0) + " KiB", "after " + std::to_string(nAt1000) + ": " +
             Num(cbAfter1000 / 1024.0, 0) + " KiB", Num(cbAfter1000 ? double(cbAfterAll) / double(cbAfter1000) : 0, 3),
             "growth <= 64 KiB", dGrowthKiB <= 64 ? "yes" : "no",
             "growth " + Num(dGrowthKiB, 0) + " KiB; " + std::to_string(nSeq - nAt1000) + " records in " +
                 Num(dSeconds, 0) + " s");
}
}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: IngestBench <server log folder> [seconds per run]\n");
        return 2;
    }
    std::string strFolder = argv[1];
    double dSeconds = argc > 2 ? atof(argv[2]) : 9;
    CWinsock winsock;
    MeasureIngest(strFolder, dSeconds);
    MeasureMemory(strFolder);
    StopServiceAndWait(SERVICE_NAME);
    return 0;
}
