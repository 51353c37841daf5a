// Client tick: CPU time of one CProcessMonitor::Tick beside idle helper
// processes, when nothing changed and when one helper starts or ends every
// tick, set against a bare EnumProcesses call, a pass of OpenProcess and
// GetModuleFileNameExA over the same processes, and the client's foreground
// sampling over every window station and desktop measured alone.
//   TickBench.exe
// Under Wine the wineserver does the work that Windows charges as kernel
// time of the caller, so every figure is the caller's CPU time plus the
// wineserver's.
#include "Benchmarks/Support/Measure.h"

#include "Client/WinNT/ForegroundSet.h"
#include "Client/WinNT/ProcessMonitor.h"

#include <psapi.h>

#include <cstdio>
#include <functional>

namespace
{
struct CpuCost
{
    double dCaller = 0;      // seconds per operation, caller's threads
    double dWineServer = 0;  // seconds per operation, wineserver (0 on Windows)
    double Total() const { return dCaller + dWineServer; }
};

// CPU time of one operation, averaged over nCount runs.
CpuCost Measure(int nCount, const std::function<void()>& operation)
{
    double dCpu0 = ThreadCpuSeconds();
    double dServer0 = WineServerCpuSeconds();
    for (int i = 0; i < nCount; ++i)
        operation();
    CpuCost cost;
    cost.dCaller = (ThreadCpuSeconds() - dCpu0) / nCount;
    if (dServer0 >= 0)
        cost.dWineServer = (WineServerCpuSeconds() - dServer0) / nCount;
    return cost;
}

DWORD g_ids[4096];

DWORD EnumerateIds()
{
    DWORD cbNeeded = 0;
    if (!EnumProcesses(g_ids, sizeof(g_ids), &cbNeeded))
        return 0;
    return cbNeeded / sizeof(DWORD);
}

void OpenAndNamePass()
{
    DWORD nIds = EnumerateIds();
    char szName[MAX_PATH];
    for (DWORD i = 0; i < nIds; ++i)
    {
        CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, g_ids[i]));
        if (process)
            GetModuleFileNameExA(process.Get(), nullptr, szName, MAX_PATH);
    }
}

// The client's own foreground sampling, alone.
void SampleForeground()
{
    CForegroundSet foreground;
    foreground.SampleAllStations();
}

std::string Micro(const CpuCost& cost)
{
    return Num(cost.Total() * 1e6, 0) + " us";
}

std::string Split(const CpuCost& cost)
{
    return "caller " + Num(cost.dCaller * 1e6, 0) + " + wineserver " + Num(cost.dWineServer * 1e6, 0) + " us";
}

void MeasureWithHelpers(CIdleHelpers& helpers, size_t nHelpers)
{
    while (helpers.Count() < nHelpers)
        if (!helpers.StartOne())
        {
            fprintf(stderr, "cannot start a helper process\n");
            return;
        }
    Sleep(1000);
    // The first ticks report every process as started; measure from a settled list.
    for (int i = 0; i < 3; ++i)
        g_Monitor.Tick(false);

    const int nTicks = 400;
    CpuCost unchanged = Measure(nTicks, [] { g_Monitor.Tick(false); });
    CpuCost enumeration = Measure(nTicks, [] { EnumerateIds(); });
    CpuCost sampling = Measure(nTicks, SampleForeground);
    CpuCost openPass = Measure(20, OpenAndNamePass);
    DWORD nProcesses = EnumerateIds();

    // One helper starts or ends before every measured tick; its start-up is
    // over (it has signalled) before the tick is measured.
    const int nChangedTicks = 60;
    CpuCost changed;
    for (int i = 0; i < nChangedTicks; ++i)
    {
        if (i % 2 == 0)
            helpers.StartOne();
        else
            helpers.EndOne();
        Sleep(30);
        CpuCost one = Measure(1, [] { g_Monitor.Tick(false); });
        changed.dCaller += one.dCaller / nChangedTicks;
        changed.dWineServer += one.dWineServer / nChangedTicks;
    }

    std::string strLabel = std::to_string(nHelpers) + " helpers";
    double dBound = enumeration.Total() + sampling.Total();
    double dRatio = dBound > 0 ? unchanged.Total() / dBound : 0;
    PrintRow("Client tick", strLabel + ", nothing changed", Micro(unchanged),
             "EnumProcesses " + Micro(enumeration) + " + sampling " + Micro(sampling), Num(dRatio, 2), "<= 1.5",
             dRatio <= 1.5 ? "yes" : "no", Split(unchanged) + "; " + std::to_string(nProcesses) + " processes");
    PrintRow("Client tick", strLabel + ", one start or end per tick", Micro(changed),
             "OpenProcess+GetModuleFileNameExA pass " + Micro(openPass),
             Num(openPass.Total() > 0 ? changed.Total() / openPass.Total() : 0, 2), "-", "-", Split(changed));
    PrintRow("Client tick", strLabel + ", foreground sampling alone", Micro(sampling), "EnumProcesses " + Micro(enumeration),
             Num(enumeration.Total() > 0 ? sampling.Total() / enumeration.Total() : 0, 2), "-", "-", Split(sampling));
}
}  // namespace

int main()
{
    if (!g_Monitor.IsUsable())
    {
        fprintf(stderr, "the process monitor could not bind its functions\n");
        return 1;
    }
    CIdleHelpers helpers;
    MeasureWithHelpers(helpers, 20);
    MeasureWithHelpers(helpers, 100);
    return 0;
}
