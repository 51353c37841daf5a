#include "Common/Records/EventRecord.h"

#include "Common/Text.h"

#include <cstdio>
#include <cstring>

char g_szMachineID[130] = "";

namespace
{
// Copies at most cchSource bytes of pszSource (which need not be terminated
// within them) into a text field, cut to the field less one.
template <size_t N>
void CopyField(char (&szField)[N], const char* pszSource, size_t cchSource)
{
    size_t cch = BoundedLength(pszSource, cchSource);
    if (cch > N - 1)
        cch = N - 1;
    std::memcpy(szField, pszSource, cch);
    szField[cch] = '\0';
}

// Asks the system for a name (the computer's, the account's) and copies it
// into the field; a failed call leaves the field empty.
template <size_t N>
void CopySystemName(char (&szField)[N], BOOL(WINAPI* pfnGetName)(LPSTR, LPDWORD))
{
    char szName[MAX_PATH];
    szName[0] = '\0';
    DWORD cchName = MAX_PATH;
    if (!pfnGetName(szName, &cchName))
        szName[0] = '\0';
    CopyField(szField, szName, sizeof(szName));
}
}  // namespace

void BuildEventRecord(EventRecord* pRecord, const char* pszEvent, int32_t nType, const char* pszUser)
{
    if (!pRecord)
        return;
    std::memset(pRecord, 0, sizeof(*pRecord));

    SYSTEMTIME st;
    GetLocalTime(&st);
    FormatDateTime(st, pRecord->szDateTime, sizeof(pRecord->szDateTime));

    if (g_szMachineID[0] != '\0')
        CopyField(pRecord->szMachine, g_szMachineID, sizeof(g_szMachineID));
    else
        CopySystemName(pRecord->szMachine, GetComputerNameA);

    if (pszUser && pszUser[0] != '\0')
        CopyField(pRecord->szUser, pszUser, sizeof(pRecord->szUser));
    else
        CopySystemName(pRecord->szUser, GetUserNameA);

    if (pszEvent)
        CopyField(pRecord->szEvent, pszEvent, sizeof(pRecord->szEvent));
    pRecord->nType = nType;
}

void FormatDateTime(const SYSTEMTIME& st, char* pszOut, size_t cchOut)
{
    if (!pszOut || cchOut == 0)
        return;
    pszOut[0] = '\0';
    AppendTwoDigits(pszOut, cchOut, st.wDay);
    AppendText(pszOut, cchOut, "/");
    AppendTwoDigits(pszOut, cchOut, st.wMonth);
    AppendText(pszOut, cchOut, "/");
    AppendTwoDigits(pszOut, cchOut, st.wYear);
    AppendText(pszOut, cchOut, " ");
    AppendTwoDigits(pszOut, cchOut, st.wHour);
    AppendText(pszOut, cchOut, ":");
    AppendTwoDigits(pszOut, cchOut, st.wMinute);
    AppendText(pszOut, cchOut, ":");
    AppendTwoDigits(pszOut, cchOut, st.wSecond);
}

void AppendTwoDigits(char* pszOut, size_t cchOut, int32_t n)
{
    char szNumber[16];
    std::snprintf(szNumber, sizeof(szNumber), n < 10 ? "0%ld" : "%ld", static_cast<long>(n));
    AppendText(pszOut, cchOut, szNumber);
}
