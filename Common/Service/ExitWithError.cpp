#include "Common/Service/ExitWithError.h"

#include "Common/Service/ConsoleStreams.h"
#include "Common/Win32.h"

#include <cstdio>
#include <cstdlib>

void ExitWithError(const char* pszReason)
{
    DWORD dwError = GetLastError();
    // Also reached before main has set the streams up (the client's logger
    // is constructed first).
    UseExactConsoleStreams();
    std::fprintf(stderr, "Error: %lu Reason: %s\n", dwError, pszReason ? pszReason : "");
    std::fflush(stderr);
    // The ordinary exit, so the process-wide objects are destroyed (the
    // client's logger saves its queue); the service object in main is not.
    std::exit(1);
}
