// The client's settings held in process-wide texts, and its command line.
// The other settings live in g_Logger (Limit, IgnoreStartFinish,
// IgnorePrograms, Server) and in g_szMachineID of the event record.
#pragma once

#include "Common/Win32.h"

#include <cstddef>

extern char g_szLogFileFolder[MAX_PATH];  // LogFileFolder (-PATH)
extern char g_szFiltersPath[MAX_PATH];    // FiltersPath (-F)

// The longest LogFileFolder: its longest file path, the folder followed by
// "\Process.old.log", must still fit a path buffer.
constexpr size_t MAX_LOG_FOLDER_LENGTH = MAX_PATH - 1 - (sizeof "\\Process.old.log" - 1);

// Parses the command line into the settings. Returns true when the service
// dispatcher may be started; sets bReset when -RESET was given.
bool ParseCommandLine(int argc, char* argv[], bool& bReset, const char* pszServiceName);

// Reads a -LIMIT value: optional blanks, an optional sign and decimal digits
// up to the first other character, kept as a 32-bit pattern (so -1 is
// 0xFFFFFFFF); no digits give 0.
DWORD ParseLimit(const char* pszValue);
