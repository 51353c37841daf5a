// STUB: replaced by the time-span text.
#include "Client/WinNT/TimeSpan.h"

void FormatTimeSpan(char* pszOut, size_t, LONGLONG) { pszOut[0] = '\0'; }
