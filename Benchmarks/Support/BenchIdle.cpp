// An idle helper process for the measurements: signals that it runs, then
// waits until the process that started it ends (or it is ended itself).
//   BenchIdle.exe <inherited parent handle> <inherited ready event>
#include "Common/Win32.h"

#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    HANDLE hParent = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(strtoull(argv[1], nullptr, 10)));
    HANDLE hReady = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(strtoull(argv[2], nullptr, 10)));
    SetEvent(hReady);
    CloseHandle(hReady);
    WaitForSingleObject(hParent, INFINITE);
    return 0;
}
