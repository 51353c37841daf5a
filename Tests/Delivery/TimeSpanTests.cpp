#include "Client/WinNT/TimeSpan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace
{

constexpr LONGLONG SECOND = 10000000;
constexpr LONGLONG MINUTE = 60 * SECOND;
constexpr LONGLONG HOUR = 60 * MINUTE;

TEST(FormatTimeSpan, WritesHoursMinutesAndSeconds)
{
    const struct
    {
        LONGLONG    llSpan;
        const char* pszText;
    } cases[] = {
        { 0, "00:00:00" },
        { SECOND - 1, "00:00:00" },                          // the fraction is dropped
        { 59 * SECOND, "00:00:59" },
        { HOUR + 2 * MINUTE + 3 * SECOND + 9 * SECOND / 10, "01:02:03" },
        { 10 * HOUR + 10 * MINUTE + 10 * SECOND, "10:10:10" },
        { 25 * HOUR, "25:00:00" },                           // no wrap at 24
        { 100 * HOUR, "100:00:00" },
        { -5 * SECOND, "-00:00:05" },                        // one minus for the whole text
        { -(HOUR + 2 * MINUTE + 3 * SECOND), "-01:02:03" },
        { -(SECOND - 1), "00:00:00" },
        { LLONG_MIN, "-256204778:48:05" },
        { LLONG_MAX, "256204778:48:05" },
    };
    for (const auto& c : cases)
    {
        char szText[32];
        std::memset(szText, 'x', sizeof(szText));  // the old content is replaced
        szText[sizeof(szText) - 1] = '\0';
        FormatTimeSpan(szText, sizeof(szText), c.llSpan);
        EXPECT_STREQ(c.pszText, szText) << "span " << c.llSpan;
    }
}

}  // namespace
