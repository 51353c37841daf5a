#include "Common/Service/ConsoleStreams.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void UseExactConsoleStreams()
{
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
