#include "Common/Records/EventRecord.h"

#include "Common/Text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

namespace
{
std::string AccountName()
{
    char szName[MAX_PATH] = "";
    DWORD cch = MAX_PATH;
    GetUserNameA(szName, &cch);
    return szName;
}

std::string ComputerName()
{
    char szName[MAX_PATH] = "";
    DWORD cch = MAX_PATH;
    GetComputerNameA(szName, &cch);
    return szName;
}

// Every byte from the terminator to the end of the field is zero.
void ExpectZeroAfterText(const char* pszField, size_t cbField, const char* pszName)
{
    size_t cch = BoundedLength(pszField, cbField);
    ASSERT_LT(cch, cbField) << pszName << " lacks its terminator";
    for (size_t i = cch; i < cbField; ++i)
        EXPECT_EQ(0, pszField[i]) << pszName << " byte " << i;
}

class CMachineIdScope
{
public:
    explicit CMachineIdScope(const char* pszId) { CopyText(g_szMachineID, pszId); }
    ~CMachineIdScope() { g_szMachineID[0] = '\0'; }
};
}  // namespace

TEST(EventRecord, BuildsTheCommonFieldsAndZeroesTheRest)
{
    const std::string strAccount = AccountName();
    const std::string strComputer = ComputerName();
    ASSERT_FALSE(strAccount.empty());
    ASSERT_FALSE(strComputer.empty());

    struct BuildCase
    {
        const char* pszName;
        int32_t     nType;
        const char* pszEvent;
        const char* pszUser;
        std::string strUser;  // expected
    };
    const BuildCase cases[] = {
        { "no user name", EVENT_LOGGING_STARTED, "Logging started", nullptr, strAccount },
        { "empty user name", EVENT_TRACKED, "Tracked", "", strAccount },
        { "the producer's user", EVENT_FINISHED, "Finished", "clerk", "clerk" },
    };
    for (const BuildCase& c : cases)
    {
        EventRecord record;
        std::memset(&record, 0xCC, sizeof(record));
        BuildEventRecord(&record, c.pszEvent, c.nType, c.pszUser);

        EXPECT_EQ(c.strUser, record.szUser) << c.pszName;
        EXPECT_EQ(strComputer, record.szMachine) << c.pszName;
        EXPECT_STREQ(c.pszEvent, record.szEvent) << c.pszName;
        EXPECT_EQ(c.nType, record.nType) << c.pszName;

        // DD/MM/YYYY HH:MM:SS
        const std::string strDate = record.szDateTime;
        ASSERT_EQ(19u, strDate.size()) << strDate;
        for (size_t i = 0; i < strDate.size(); ++i)
        {
            char chExpected = "dd/dd/dddd dd:dd:dd"[i];
            if (chExpected == 'd')
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(strDate[i]))) << strDate;
            else
                EXPECT_EQ(chExpected, strDate[i]) << strDate;
        }

        ExpectZeroAfterText(record.szDateTime, sizeof(record.szDateTime), "date");
        ExpectZeroAfterText(record.szMachine, sizeof(record.szMachine), "machine");
        ExpectZeroAfterText(record.szUser, sizeof(record.szUser), "user");
        ExpectZeroAfterText(record.szEvent, sizeof(record.szEvent), "event");
        // The fields the producer fills later are empty and zero.
        EXPECT_EQ(0u, BoundedLength(record.szProgram, sizeof(record.szProgram)));
        ExpectZeroAfterText(record.szProgram, sizeof(record.szProgram), "program");
        EXPECT_EQ(0u, BoundedLength(record.szDuration, sizeof(record.szDuration)));
        ExpectZeroAfterText(record.szDuration, sizeof(record.szDuration), "duration");
        EXPECT_EQ(0u, BoundedLength(record.szCpuTime, sizeof(record.szCpuTime)));
        ExpectZeroAfterText(record.szCpuTime, sizeof(record.szCpuTime), "cpu time");
        EXPECT_EQ(0u, record.dwProcessId);
        EXPECT_EQ(0, record.bActivity);
        EXPECT_EQ(0, record.bReserved[0] | record.bReserved[1] | record.bReserved[2]);
    }
}

TEST(EventRecord, MachineIdAndLongTextsAreCutToTheirFields)
{
    const std::string strLong(300, 'u');
    {
        CMachineIdScope id(std::string(129, 'm').c_str());
        EventRecord record;
        BuildEventRecord(&record, strLong.c_str(), EVENT_TRACKED, strLong.c_str());
        EXPECT_EQ(std::string(127, 'm'), record.szMachine);
        EXPECT_EQ(std::string(127, 'u'), record.szUser);
        EXPECT_EQ(std::string(127, 'u'), record.szEvent);
        EXPECT_EQ(EVENT_TRACKED, record.nType);
    }
    {
        CMachineIdScope id("WS-017");
        EventRecord record;
        BuildEventRecord(&record, "Tracked", EVENT_TRACKED, "clerk");
        EXPECT_STREQ("WS-017", record.szMachine);
    }
}

TEST(EventRecord, DateTimeTextHasTwoDigitsAndTheFullYear)
{
    struct DateCase
    {
        WORD        wYear, wMonth, wDay, wHour, wMinute, wSecond;
        const char* pszText;
    };
    const DateCase cases[] = {
        { 2003, 3, 5, 14, 7, 9, "05/03/2003 14:07:09" },
        { 2003, 2, 1, 9, 5, 3, "01/02/2003 09:05:03" },
        { 1999, 12, 31, 23, 59, 59, "31/12/1999 23:59:59" },
        { 2010, 10, 10, 0, 0, 0, "10/10/2010 00:00:00" },
        { 987, 1, 1, 0, 0, 0, "01/01/987 00:00:00" },
    };
    for (const DateCase& c : cases)
    {
        SYSTEMTIME st = {};
        st.wYear = c.wYear;
        st.wMonth = c.wMonth;
        st.wDay = c.wDay;
        st.wHour = c.wHour;
        st.wMinute = c.wMinute;
        st.wSecond = c.wSecond;
        st.wMilliseconds = 999;
        st.wDayOfWeek = 3;
        char szText[64] = "replaced entirely";
        FormatDateTime(st, szText, sizeof(szText));
        EXPECT_STREQ(c.pszText, szText);
    }

    char szText[8] = "t=";
    AppendTwoDigits(szText, sizeof(szText), 7);
    EXPECT_STREQ("t=07", szText);
    AppendTwoDigits(szText, sizeof(szText), 12345);  // cut to the buffer
    EXPECT_STREQ("t=07123", szText);
}
