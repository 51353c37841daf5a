// The server's command line: the arguments joined into one text, split into
// options and values, and applied to g_ServerSettings.
#pragma once

#include "Common/Win32.h"

// Size of the joined command line; the parser takes at most MAX_PATH - 1 of it.
constexpr size_t JOINED_LINE_SIZE = 520;

// Joins argv[1] .. argv[argc - 1] into szLine, each followed by one blank.
void JoinArguments(int argc, char* argv[], char (&szLine)[JOINED_LINE_SIZE]);

// Applies the options of the joined line to g_ServerSettings, printing the
// usage text and every message. Sets dwReset to 1 for -RESET (the caller
// clears it). Returns 1 when nothing was changed or printed but the
// no-argument warning, so the dispatcher may start; 0 otherwise. A line that
// is too long, or a -PATH folder too long for the log paths, is refused
// whole: the settings and dwReset are left as they were.
int ParseCommandLine(const char* pszLine, DWORD& dwReset, const char* pszServiceName);

// Reads the next option value at pszPos into pszValue (MAX_PATH bytes, cut
// to MAX_PATH - 1 characters), honouring double- and single-quoted sections,
// and advances pszPos past it. Returns 1 when the value is non-empty.
int GetNextArg(char*& pszPos, char* pszValue);

// The number at the start of pszText: blanks and tabs skipped, an optional
// sign, decimal digits up to the first other character (0 when there are
// none). Saturates at the limits of a 64-bit value.
long long ReadDecimal(const char* pszText);
