// A program for the client to watch: it runs for the milliseconds given on
// its command line, then ends.
#include "Common/Win32.h"

#include <cstdlib>

int main(int argc, char* argv[])
{
    Sleep(argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 3000);
    return 0;
}
