// The time-span text of run time and CPU time.
#pragma once

#include "Common/Win32.h"

#include <cstddef>

// Writes a span of 100-ns units as HH:MM:SS (the fraction of a second
// dropped, hours with two or more digits and no wrap at 24), replacing the
// buffer's text; a negative span gets one leading minus and its magnitude.
void FormatTimeSpan(char* pszOut, size_t cchOut, LONGLONG llSpan);
