// STUB: replaced by the client's command line.
#include "Client/WinNT/ClientSettings.h"

char g_szLogFileFolder[MAX_PATH] = "";
char g_szFiltersPath[MAX_PATH] = "";

bool ParseCommandLine(int, char*[], bool&, const char*) { return true; }
