#include "Common/Service/ConsoleStreams.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace
{
void UseBinaryMode(FILE* pStream)
{
    std::fflush(pStream);
    // A service started by the SCM has no standard handles: its streams have
    // no descriptor, and some runtimes end the process on a bad one.
    int nDescriptor = _fileno(pStream);
    if (nDescriptor >= 0)
        _setmode(nDescriptor, _O_BINARY);
}
}  // namespace

void UseExactConsoleStreams()
{
    UseBinaryMode(stdout);
    UseBinaryMode(stderr);
}
