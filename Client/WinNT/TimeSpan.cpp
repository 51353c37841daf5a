#include "Client/WinNT/TimeSpan.h"

#include "Common/Records/EventRecord.h"
#include "Common/Text.h"

namespace
{
constexpr ULONGLONG UNITS_PER_SECOND = 10000000;
constexpr ULONGLONG UNITS_PER_MINUTE = 60 * UNITS_PER_SECOND;
constexpr ULONGLONG UNITS_PER_HOUR   = 60 * UNITS_PER_MINUTE;
}  // namespace

void FormatTimeSpan(char* pszOut, size_t cchOut, LONGLONG llSpan)
{
    if (!pszOut || cchOut == 0)
        return;
    pszOut[0] = '\0';
    // A span below zero (the clock was set back) gets one minus for the
    // whole text instead of a sign in every part; one under a second shows
    // as 00:00:00 either way. The magnitude is taken unsigned so that the
    // most negative value has one too.
    ULONGLONG ullRest = static_cast<ULONGLONG>(llSpan);
    if (llSpan < 0)
    {
        ullRest = 0 - ullRest;
        if (ullRest >= UNITS_PER_SECOND)
            AppendText(pszOut, cchOut, "-");
    }
    // At most 2^63 units: about 256 million hours, within a signed 32-bit part.
    const ULONGLONG ullHours = ullRest / UNITS_PER_HOUR;
    ullRest %= UNITS_PER_HOUR;
    const ULONGLONG ullMinutes = ullRest / UNITS_PER_MINUTE;
    ullRest %= UNITS_PER_MINUTE;
    const ULONGLONG ullSeconds = ullRest / UNITS_PER_SECOND;

    AppendTwoDigits(pszOut, cchOut, static_cast<int32_t>(ullHours));
    AppendText(pszOut, cchOut, ":");
    AppendTwoDigits(pszOut, cchOut, static_cast<int32_t>(ullMinutes));
    AppendText(pszOut, cchOut, ":");
    AppendTwoDigits(pszOut, cchOut, static_cast<int32_t>(ullSeconds));
}
