// STUB: replaced by the event record.
#include "Common/Records/EventRecord.h"

#include <cstring>

char g_szMachineID[130] = "";

void BuildEventRecord(EventRecord* pRecord, const char*, int32_t nType, const char*)
{
    std::memset(pRecord, 0, sizeof(*pRecord));
    pRecord->nType = nType;
}
void FormatDateTime(const SYSTEMTIME&, char* pszOut, size_t) { pszOut[0] = '\0'; }
void AppendTwoDigits(char*, size_t, int32_t) {}
