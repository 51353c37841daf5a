#include "Server/ServerSettings.h"

#include "Common/Records/LogFile.h"

ServerSettings g_ServerSettings = { "", NO_LIMIT };
