// A program for the monitor's tests to watch:
//   MonitorHelper sleep MS    sleeps, then ends
//   MonitorHelper burn MS     keeps a processor busy, then ends
//   MonitorHelper window MS   shows a window, takes the foreground and keeps
//                             its messages flowing, then ends
#include "Common/Win32.h"

#include <cstdlib>
#include <cstring>

namespace
{
void Burn(DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    volatile unsigned nSpin = 0;
    while (GetTickCount() - dwStart < dwMs)
        ++nSpin;
}

int ShowWindowFor(DWORD dwMs)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuillfenMonitorHelper";
    if (!RegisterClassA(&wc))
        return 2;
    HWND hWnd = CreateWindowExA(0, wc.lpszClassName, "Monitor helper", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hWnd)
        return 3;
    SetForegroundWindow(hWnd);
    const DWORD dwStart = GetTickCount();
    for (DWORD dwElapsed = 0; dwElapsed < dwMs; dwElapsed = GetTickCount() - dwStart)
    {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwMs - dwElapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    DestroyWindow(hWnd);
    return 0;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 1;
    const DWORD dwMs = static_cast<DWORD>(strtoul(argv[2], nullptr, 10));
    if (strcmp(argv[1], "sleep") == 0)
        Sleep(dwMs);
    else if (strcmp(argv[1], "burn") == 0)
        Burn(dwMs);
    else if (strcmp(argv[1], "window") == 0)
        return ShowWindowFor(dwMs);
    else
        return 1;
    return 0;
}
