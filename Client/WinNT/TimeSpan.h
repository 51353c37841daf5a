// The time-span text of run time and CPU time.
#pragma once

#include "Common/Win32.h"

#include <cstddef>

// Writes a span of 100-ns units as HH:MM:SS, hours with two or more digits;
// a negative span gets one leading minus and its magnitude.
void FormatTimeSpan(char* pszOut, size_t cchOut, LONGLONG llSpan);
