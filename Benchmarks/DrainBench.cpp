// Delivery with the client's own logger: the time to drain queued records
// to a reachable server, set against the 300 ms pause per record that the
// protocol requires; and the memory each queued record costs while the
// server is down.
//   DrainBench.exe drain <records> <folder>
//   DrainBench.exe queue <records> <folder>
// The Quillfen service must be installed; drain starts it, queue stops it.
#include "Benchmarks/Support/Measure.h"

#include "Client/WinNT/Logger.h"
#include "Common/Text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const char SERVER_NAME[] = "Quillfen";
// The pause after each acknowledged record, in seconds.
constexpr double PAUSE_SECONDS = 0.3;

char g_szFolder[MAX_PATH];

void StartLogger()
{
    g_Logger.ServerDelivery = true;
    CopyText(g_Logger.m_szServer, "127.0.0.1");
    g_Logger.SetPaths("Process.log", "\\Process.old.log", "\\buffer.dat");
}

int Drain(DWORD nRecords)
{
    if (!StartServiceAndWait(SERVER_NAME))
    {
        fprintf(stderr, "the server does not start\n");
        return 1;
    }
    Sleep(1000);
    for (DWORD i = 0; i < nRecords; ++i)
    {
        EventRecord record = MakeLoadRecord("drain", i);
        g_Logger.Enqueue(&record);
    }
    double t0 = NowSeconds();
    StartLogger();
    const double dLimit = nRecords * PAUSE_SECONDS * 3 + 30;
    while (g_Logger.m_Queue.GetCount() > 0 && NowSeconds() - t0 < dLimit)
        Sleep(5);
    double dSeconds = NowSeconds() - t0;
    DWORD nLeft = g_Logger.m_Queue.GetCount();
    double dMandated = nRecords * PAUSE_SECONDS;
    double dRatio = dSeconds / dMandated;
    PrintRow("Delivery drain", std::to_string(nRecords) + " queued records, server reachable", Num(dSeconds, 2) + " s",
             "0.3 s x " + std::to_string(nRecords) + " = " + Num(dMandated, 1) + " s", Num(dRatio, 3), "<= 1.05",
             nLeft == 0 && dRatio <= 1.05 ? "yes" : "no", std::to_string(nLeft) + " left in the queue");
    return 0;
}

int Queue(DWORD nRecords)
{
    StopServiceAndWait(SERVER_NAME);
    StartLogger();
    // Let the first pass fail against the stopped server.
    Sleep(1000);
    SIZE_T cbBefore = PrivateBytes(GetCurrentProcess());
    for (DWORD i = 0; i < nRecords; ++i)
    {
        EventRecord record = MakeLoadRecord("queue", i);
        g_Logger.Enqueue(&record);
    }
    SIZE_T cbAfter = PrivateBytes(GetCurrentProcess());
    double dPerRecord = (static_cast<double>(cbAfter) - static_cast<double>(cbBefore)) / nRecords;
    PrintRow("Client memory", "private bytes per queued record, " + std::to_string(nRecords) + " queued, server down",
             Num(dPerRecord, 0) + " B", "the record itself: 784 B", Num(dPerRecord / 784, 3), "<= 900 B",
             dPerRecord <= 900 ? "yes" : "no",
             "grew " + Num((cbAfter - cbBefore) / 1048576.0, 1) + " MiB");
    return 0;
}
}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 4)
    {
        fprintf(stderr, "usage: DrainBench drain|queue <records> <folder>\n");
        return 2;
    }
    DWORD nRecords = strtoul(argv[2], nullptr, 10);
    CopyText(g_szFolder, argv[3]);
    CreateDirectoryA(g_szFolder, nullptr);
    OutputFolder = g_szFolder;
    // The logger's destruction after main runs the last pass and keeps what
    // is left in buffer.dat of the folder.
    if (strcmp(argv[1], "drain") == 0)
        return Drain(nRecords);
    return Queue(nRecords);
}
