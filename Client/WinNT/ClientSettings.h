// The client's settings held in process-wide texts, and its command line.
#pragma once

#include "Common/Win32.h"

extern char g_szLogFileFolder[MAX_PATH];  // LogFileFolder (-PATH)
extern char g_szFiltersPath[MAX_PATH];    // FiltersPath (-F)
// MachineID (-ID) is g_szMachineID of the event record.

// Parses the command line into the settings. Returns true when the service
// dispatcher may be started; sets bReset when -RESET was given.
bool ParseCommandLine(int argc, char* argv[], bool& bReset, const char* pszServiceName);
