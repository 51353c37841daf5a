// STUB: replaced by the log line.
#include "Common/Records/EventLine.h"

DWORD g_dwPlatformId = 0;

void FormatEventLine(const EventRecord*, char* pszLine) { if (pszLine) pszLine[0] = '\0'; }
void AppendField(char*, size_t, const char*, bool) {}
