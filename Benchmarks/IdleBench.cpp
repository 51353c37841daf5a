// Client idle cost: the installed client service running 60 s beside 50
// idle helper processes, as a percentage of one core. The baseline is the
// same prefix with the helpers and without the client, measured first.
//   IdleBench.exe [seconds]
// The QFClient service must be installed (stopped); it is stopped again at
// the end. Beside it, the cost of the bare enumeration the client makes on
// every tick, at the same rate. Under Wine the client's share of the wineserver is counted too.
#include "Benchmarks/Support/Measure.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{
const char SERVICE_NAME[] = "QFClient";

// CPU seconds of the client service's process; negative when unreadable.
double ClientCpuSeconds(DWORD dwHostPid, HANDLE hProcess)
{
    if (dwHostPid)
        return HostProcessCpuSeconds(dwHostPid);
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(hProcess, &ftCreation, &ftExit, &ftKernel, &ftUser))
        return -1;
    ULARGE_INTEGER kernel = {{ftKernel.dwLowDateTime, ftKernel.dwHighDateTime}};
    ULARGE_INTEGER user = {{ftUser.dwLowDateTime, ftUser.dwHighDateTime}};
    return static_cast<double>(kernel.QuadPart + user.QuadPart) / 1e7;
}
}  // namespace

int main(int argc, char* argv[])
{
    double dSeconds = argc > 1 ? atof(argv[1]) : 60;
    const double dBaselineSeconds = 30;
    StopServiceAndWait(SERVICE_NAME);

    CIdleHelpers helpers;
    for (int i = 0; i < 50; ++i)
        if (!helpers.StartOne())
        {
            fprintf(stderr, "cannot start a helper process\n");
            return 1;
        }
    Sleep(2000);

    // The floor the platform sets: a bare EnumProcesses twice a second.
    static DWORD ids[4096];
    DWORD cbNeeded = 0;
    double dEnumCpu0 = ThreadCpuSeconds() + std::max(WineServerCpuSeconds(), 0.0);
    for (int i = 0; i < 200; ++i)
        EnumProcesses(ids, sizeof(ids), &cbNeeded);
    double dEnumPercent = (ThreadCpuSeconds() + std::max(WineServerCpuSeconds(), 0.0) - dEnumCpu0) / 200 * 2 * 100;

    bool bWine = WineServerCpuSeconds() >= 0;
    double dServer0 = WineServerCpuSeconds();
    Sleep(static_cast<DWORD>(dBaselineSeconds * 1000));
    double dIdleServerRate = bWine ? (WineServerCpuSeconds() - dServer0) / dBaselineSeconds : 0;

    if (!StartServiceAndWait(SERVICE_NAME))
    {
        fprintf(stderr, "the client service does not start\n");
        return 1;
    }
    // The first tick comes 5 s after the start and lists every process.
    Sleep(10000);
    DWORD dwHostPid = bWine ? FindHostPid(SiblingPath("qfnt.exe").c_str()) : 0;
    CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ServiceProcessId(SERVICE_NAME)));
    if (bWine && !dwHostPid)
    {
        fprintf(stderr, "cannot find the client's host process\n");
        StopServiceAndWait(SERVICE_NAME);
        return 1;
    }

    double dClient0 = ClientCpuSeconds(dwHostPid, process.Get());
    dServer0 = WineServerCpuSeconds();
    double t0 = NowSeconds();
    Sleep(static_cast<DWORD>(dSeconds * 1000));
    double dElapsed = NowSeconds() - t0;
    double dClient = (ClientCpuSeconds(dwHostPid, process.Get()) - dClient0) / dElapsed * 100;
    double dServer = bWine ? ((WineServerCpuSeconds() - dServer0) / dElapsed - dIdleServerRate) * 100 : 0;
    StopServiceAndWait(SERVICE_NAME);

    double dTotal = dClient + std::max(dServer, 0.0);
    PrintRow("Client idle CPU", "service, 50 idle helpers, " + Num(dElapsed, 0) + " s", Num(dTotal, 3) + " %",
             "bare EnumProcesses twice a second: " + Num(dEnumPercent, 3) + " %",
             Num(dEnumPercent > 0 ? dTotal / dEnumPercent : 0, 2), "< 0.2 %",
             dTotal < 0.2 ? "yes" : "no",
             "client process " + Num(dClient, 3) + " % + its wineserver share " + Num(dServer, 3) + " % (prefix idle: " +
                 Num(dIdleServerRate * 100, 3) + " %); " + std::to_string(cbNeeded / sizeof(DWORD)) + " processes");
    return 0;
}
