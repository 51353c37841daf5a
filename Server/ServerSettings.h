// The server's settings: what the command line stores under the service's
// Parameters key and the service reads back when it starts.
#pragma once

#include "Common/Win32.h"

struct ServerSettings
{
    char  LogFileFolder[MAX_PATH];  // folder of Process.log; empty: the program's folder
    DWORD Limit;                    // kB at which Process.log rotates; NO_LIMIT: never
};

// The one instance, at its defaults until the command line or OnInit changes it.
extern ServerSettings g_ServerSettings;

// Longest log folder whose "\Process.old.log" path still fits MAX_PATH.
constexpr size_t MAX_LOG_FOLDER = MAX_PATH - 1 - (sizeof("\\Process.old.log") - 1);
