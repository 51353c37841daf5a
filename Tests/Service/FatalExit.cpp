// Ends through ExitWithError with a chosen last error, so a test can see the
// one line, the exit status and that the process-wide objects are destroyed.
//   FatalExit <last error> <reason>
#include "Common/Service/ConsoleStreams.h"
#include "Common/Service/ExitWithError.h"
#include "Common/Win32.h"

#include <cstdio>
#include <cstdlib>

namespace
{
struct CGoodbye
{
    ~CGoodbye()
    {
        std::fputs("process-wide objects destroyed\n", stdout);
        std::fflush(stdout);
    }
} g_Goodbye;
}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    UseExactConsoleStreams();
    SetLastError(std::strtoul(argv[1], nullptr, 10));
    ExitWithError(argv[2]);
}
