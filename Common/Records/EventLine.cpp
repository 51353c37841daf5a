#include "Common/Records/EventLine.h"

#include "Common/Text.h"

#include <cstdio>
#include <cstring>

DWORD g_dwPlatformId = 0;

namespace
{
// The longest line the field sizes allow: each text field quoted, the numbers
// at their widest, nine commas, CR LF and the terminator.
constexpr size_t LONGEST_LINE =
    (sizeof(EventRecord::szDateTime) + 1) + (sizeof(EventRecord::szMachine) + 1) +
    (sizeof(EventRecord::szUser) + 1) + 11 + (sizeof(EventRecord::szEvent) + 1) +
    (sizeof(EventRecord::szProgram) + 1) + 11 + (sizeof(EventRecord::szDuration) + 1) +
    (sizeof(EventRecord::szCpuTime) + 1) + 3 + 9 + 2 + 1;
static_assert(LONGEST_LINE <= EVENT_LINE_SIZE, "every line fits the line buffer");

bool NeedsQuotes(char ch)
{
    return ch == ' ' || ch == ',' || ch == '\t' || ch == '\r' || ch == '\n';
}

// Appends one text field of the record, read within its size only: a
// received record may lack the terminator.
template <size_t N>
void AppendTextField(char* pszLine, const char (&szField)[N], bool bForce)
{
    char szText[N + 1];
    size_t cch = BoundedLength(szField, N);
    std::memcpy(szText, szField, cch);
    szText[cch] = '\0';
    AppendField(pszLine, EVENT_LINE_SIZE, szText, bForce);
}

void AppendDecimal(char* pszLine, long nValue)
{
    char szNumber[16];
    std::snprintf(szNumber, sizeof(szNumber), "%ld", nValue);
    AppendField(pszLine, EVENT_LINE_SIZE, szNumber, false);
}

void AppendHex(char* pszLine, unsigned long ulValue)
{
    char szNumber[16];
    std::snprintf(szNumber, sizeof(szNumber), "%lX", ulValue);
    AppendField(pszLine, EVENT_LINE_SIZE, szNumber, false);
}
}  // namespace

void AppendField(char* pszLine, size_t cchLine, const char* pszField, bool bForce)
{
    if (!pszLine || cchLine == 0 || !pszField)
        return;
    bool bQuote = bForce || pszField[0] == '\0';
    for (const char* p = pszField; !bQuote && *p != '\0'; ++p)
        bQuote = NeedsQuotes(*p);

    size_t cchUsed = BoundedLength(pszLine, cchLine);
    if (cchUsed == cchLine)
    {
        // The line had lost its terminator: restore it and append nothing.
        pszLine[cchLine - 1] = '\0';
        return;
    }
    auto put = [&](char ch) {
        if (cchUsed + 1 < cchLine)
            pszLine[cchUsed++] = ch;
    };
    if (bQuote)
        put('"');
    // CR and LF become blanks, so that no field can start a line of its own.
    for (const char* p = pszField; *p != '\0'; ++p)
        put(*p == '\r' || *p == '\n' ? ' ' : *p);
    if (bQuote)
        put('"');
    pszLine[cchUsed] = '\0';
}

void FormatEventLine(const EventRecord* pRecord, char* pszLine)
{
    if (!pszLine)
        return;
    pszLine[0] = '\0';
    if (!pRecord)
        return;

    AppendTextField(pszLine, pRecord->szDateTime, false);
    AppendText(pszLine, EVENT_LINE_SIZE, ",");
    AppendTextField(pszLine, pRecord->szMachine, false);
    AppendText(pszLine, EVENT_LINE_SIZE, ",");
    AppendTextField(pszLine, pRecord->szUser, false);
    AppendText(pszLine, EVENT_LINE_SIZE, ",");
    AppendDecimal(pszLine, pRecord->nType);
    AppendText(pszLine, EVENT_LINE_SIZE, ",");
    AppendTextField(pszLine, pRecord->szEvent, false);

    int32_t nType = pRecord->nType;
    if (nType == EVENT_TRACKED || nType == EVENT_FINISHED || nType == EVENT_RESERVED_50 ||
        nType == EVENT_RESERVED_60)
    {
        AppendText(pszLine, EVENT_LINE_SIZE, ",");
        if (pRecord->szProgram[0] != '\0')
            AppendTextField(pszLine, pRecord->szProgram, true);

        if (nType != EVENT_RESERVED_50)
        {
            AppendText(pszLine, EVENT_LINE_SIZE, ",");
            // Windows 9x process ids are large unsigned values, shown in hexadecimal there.
            if (g_dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
                AppendHex(pszLine, pRecord->dwProcessId);
            else
                AppendDecimal(pszLine, static_cast<int32_t>(pRecord->dwProcessId));

            if (nType == EVENT_FINISHED)
            {
                AppendText(pszLine, EVENT_LINE_SIZE, ",");
                if (pRecord->szDuration[0] != '\0')
                    AppendTextField(pszLine, pRecord->szDuration, false);
                AppendText(pszLine, EVENT_LINE_SIZE, ",");
                if (pRecord->szCpuTime[0] != '\0')
                    AppendTextField(pszLine, pRecord->szCpuTime, false);
                AppendText(pszLine, EVENT_LINE_SIZE, ",");
                if (pRecord->bActivity != NO_ACTIVITY)
                    AppendDecimal(pszLine, pRecord->bActivity);
            }
        }
    }
    AppendText(pszLine, EVENT_LINE_SIZE, "\r\n");
}
