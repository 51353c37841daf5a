#include "Common/Records/EventLine.h"

#include "Tests/Records/RecordFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace
{
struct LineCase
{
    const char*  pszName;
    DWORD        dwPlatformId;
    RecordFields fields;
    const char*  pszLine;  // without its CR LF
};

std::string Render(const EventRecord& record, DWORD dwPlatformId)
{
    g_dwPlatformId = dwPlatformId;
    char szLine[EVENT_LINE_SIZE];
    std::memset(szLine, 'x', sizeof(szLine));
    FormatEventLine(&record, szLine);
    return std::string(szLine, BoundedLength(szLine, sizeof(szLine)));
}

void ExpectLines(const LineCase* pCases, size_t nCases)
{
    for (size_t i = 0; i < nCases; ++i)
    {
        const LineCase& c = pCases[i];
        EXPECT_EQ(std::string(c.pszLine) + "\r\n", Render(MakeRecord(c.fields), c.dwPlatformId)) << c.pszName;
    }
}

const char* const LEDGER = "C:\\Apps\\Ledger\\Ledger.exe";
}  // namespace

TEST(EventLine, WritesEveryKindOfRecordAsDocumented)
{
    const LineCase cases[] = {
        { "type 10", 2, { "05/03/2003 09:00:02", "WS-017", "SYSTEM", 10, "Logging started" },
          "\"05/03/2003 09:00:02\",WS-017,SYSTEM,10,\"Logging started\"" },
        { "type 10, empty user name", 2, { "05/03/2003 09:00:02", "WS-017", "", 10, "Logging started" },
          "\"05/03/2003 09:00:02\",WS-017,\"\",10,\"Logging started\"" },
        { "type 20", 2, { "05/03/2003 17:45:10", "WS-017", "SYSTEM", 20, "Logging stopped" },
          "\"05/03/2003 17:45:10\",WS-017,SYSTEM,20,\"Logging stopped\"" },
        { "type 30, platform 2", 2, { "05/03/2003 09:12:40", "WS-017", "clerk", 30, "Tracked", LEDGER, 1234 },
          "\"05/03/2003 09:12:40\",WS-017,clerk,30,Tracked,\"C:\\Apps\\Ledger\\Ledger.exe\",1234" },
        { "type 30, platform 1", 1,
          { "05/03/2003 09:12:40", "WS-017", "clerk", 30, "Tracked", LEDGER, 0xFFF4E5A1 },
          "\"05/03/2003 09:12:40\",WS-017,clerk,30,Tracked,\"C:\\Apps\\Ledger\\Ledger.exe\",FFF4E5A1" },
        { "type 30, user with a space, empty path", 2,
          { "05/03/2003 09:12:41", "WS-017", "front desk", 30, "Tracked", "", 1236 },
          "\"05/03/2003 09:12:41\",WS-017,\"front desk\",30,Tracked,,1236" },
        { "type 40", 2,
          { "05/03/2003 09:30:05", "WS-017", "clerk", 40, "Finished", LEDGER, 1234, "00:17:25", "00:00:02", 35 },
          "\"05/03/2003 09:30:05\",WS-017,clerk,40,Finished,\"C:\\Apps\\Ledger\\Ledger.exe\",1234,00:17:25,00:00:02,35" },
        { "type 40, no CPU time, activity 255", 2,
          { "05/03/2003 09:30:05", "WS-017", "clerk", 40, "Finished", LEDGER, 1234, "00:17:25", "", 255 },
          "\"05/03/2003 09:30:05\",WS-017,clerk,40,Finished,\"C:\\Apps\\Ledger\\Ledger.exe\",1234,00:17:25,," },
        { "type 50, empty texts", 2, { "05/03/2003 09:30:06", "WS-017", "clerk", 50, "" },
          "\"05/03/2003 09:30:06\",WS-017,clerk,50,\"\"," },
        { "type 90", 2, { "05/03/2003 08:59:58", "COLLECTOR", "SYSTEM", 90, "Server started" },
          "\"05/03/2003 08:59:58\",COLLECTOR,SYSTEM,90,\"Server started\"" },
        { "type 100", 2, { "05/03/2003 18:00:00", "COLLECTOR", "SYSTEM", 100, "Server stopped" },
          "\"05/03/2003 18:00:00\",COLLECTOR,SYSTEM,100,\"Server stopped\"" },
    };
    ExpectLines(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(EventLine, QuotingProcessIdsAndFieldsByType)
{
    const LineCase cases[] = {
        { "the same id in signed decimal off Windows 9x", 2,
          { "d t", "M", "u", 30, "Tracked", "p", 4294239649u }, "\"d t\",M,u,30,Tracked,\"p\",-727647" },
        { "platform id 0 is not Windows 9x", 0,
          { "d t", "M", "u", 30, "Tracked", "p", 0xFFF4E5A1 }, "\"d t\",M,u,30,Tracked,\"p\",-727647" },
        { "hexadecimal without leading zeros", 1,
          { "d t", "M", "u", 30, "Tracked", "p", 0xAB }, "\"d t\",M,u,30,Tracked,\"p\",AB" },
        { "type 40 with nothing measured", 2,
          { "d t", "M", "u", 40, "Finished", "p", 7, "", "", 255 }, "\"d t\",M,u,40,Finished,\"p\",7,,," },
        { "activity 0 is written", 2,
          { "d t", "M", "u", 40, "Finished", "p", 7, "00:00:01", "", 0 },
          "\"d t\",M,u,40,Finished,\"p\",7,00:00:01,,0" },
        { "type 60 is rendered like 30", 2,
          { "d t", "M", "u", 60, "E", "p", 9, "00:00:01", "00:00:01", 5 }, "\"d t\",M,u,60,E,\"p\",9" },
        { "type 50 stops after the path", 2,
          { "d t", "M", "u", 50, "E", "C:\\x.exe", 9, "00:00:01", "00:00:01", 5 }, "\"d t\",M,u,50,E,\"C:\\x.exe\"" },
        { "an unknown type gives the five common fields", 2,
          { "d t", "M", "u", 70, "E", "p", 9, "00:00:01", "00:00:01", 5 }, "\"d t\",M,u,70,E" },
        { "a negative type", 2, { "d t", "M", "u", -5, "E", "p", 9 }, "\"d t\",M,u,-5,E" },
        { "a double quote is written unchanged and unquoted", 2,
          { "d t", "M", "o\"brien", 10, "E" }, "\"d t\",M,o\"brien,10,E" },
        { "comma and tab force quotes", 2,
          { "d t", "a,b", "c\td", 30, "E", "p", 1, "", "", 0 }, "\"d t\",\"a,b\",\"c\td\",30,E,\"p\",1" },
        { "a quoted duration", 2,
          { "d t", "M", "u", 40, "Finished", "", 1, "1 2", "3,4", 100 }, "\"d t\",M,u,40,Finished,,1,\"1 2\",\"3,4\",100" },
    };
    ExpectLines(cases, sizeof(cases) / sizeof(cases[0]));

    EventRecord record0 = MakeRecord(cases[0].fields);
    char szLine[16] = "kept";
    FormatEventLine(nullptr, szLine);
    EXPECT_STREQ("", szLine);
    FormatEventLine(&record0, nullptr);  // no buffer: nothing happens
    AppendField(szLine, sizeof(szLine), nullptr, true);
    EXPECT_STREQ("", szLine);
    AppendField(szLine, sizeof(szLine), "abcdefghijklmnopqrstuvwxyz", false);
    EXPECT_STREQ("abcdefghijklmno", szLine);
}

TEST(EventLine, ReadsUnterminatedFieldsWithinTheirSizes)
{
    // A received record may carry no terminator anywhere; the filler then
    // decides whether every field is quoted, which gives the longest line.
    for (char chFill : { 'A', ',' })
    {
        EventRecord record;
        std::memset(&record, chFill, sizeof(record));
        record.nType = EVENT_FINISHED;
        record.dwProcessId = 12;
        record.bActivity = 99;

        const std::string q = chFill == ',' ? "\"" : "";
        auto field = [&](size_t cch, const std::string& strQuote) {
            return strQuote + std::string(cch, chFill) + strQuote;
        };
        std::string strExpected = field(64, q) + "," + field(128, q) + "," + field(128, q) + ",40," +
                                  field(128, q) + "," + field(260, "\"") + ",12," + field(32, q) + "," +
                                  field(32, q) + ",99\r\n";
        std::string strLine = Render(record, 2);
        EXPECT_EQ(strExpected, strLine) << "filler " << chFill;
        EXPECT_LT(strLine.size(), EVENT_LINE_SIZE);
    }
}

TEST(EventLine, LineBreaksInsideFieldsNeverStartAnotherLine)
{
    struct TextField
    {
        const char* pszName;
        size_t      nOffset;
        size_t      cbSize;
    };
    const TextField textFields[] = {
        { "date", offsetof(EventRecord, szDateTime), sizeof(EventRecord::szDateTime) },
        { "machine", offsetof(EventRecord, szMachine), sizeof(EventRecord::szMachine) },
        { "user", offsetof(EventRecord, szUser), sizeof(EventRecord::szUser) },
        { "event", offsetof(EventRecord, szEvent), sizeof(EventRecord::szEvent) },
        { "program", offsetof(EventRecord, szProgram), sizeof(EventRecord::szProgram) },
        { "duration", offsetof(EventRecord, szDuration), sizeof(EventRecord::szDuration) },
        { "cpu time", offsetof(EventRecord, szCpuTime), sizeof(EventRecord::szCpuTime) },
    };
    for (const TextField& f : textFields)
    {
        EventRecord record = MakeRecord({ "d t", "M", "u", 40, "Finished", "p", 1, "x", "y", 2 });
        char* pszField = reinterpret_cast<char*>(&record) + f.nOffset;
        std::memset(pszField, 0, f.cbSize);
        CopyText(pszField, f.cbSize, "1\r\n2\n3\r");
        std::string strLine = Render(record, 2);
        EXPECT_EQ(1, std::count(strLine.begin(), strLine.end(), '\r')) << f.pszName;
        EXPECT_EQ(1, std::count(strLine.begin(), strLine.end(), '\n')) << f.pszName;
        EXPECT_NE(std::string::npos, strLine.find("\"1  2 3 \"")) << f.pszName << ": " << strLine;

        // Without a terminator, a line break in the last byte of the field is a blank too.
        std::memset(pszField, 'z', f.cbSize);
        pszField[f.cbSize - 1] = '\n';
        strLine = Render(record, 2);
        EXPECT_EQ(1, std::count(strLine.begin(), strLine.end(), '\n')) << f.pszName;
        EXPECT_NE(std::string::npos, strLine.find(std::string(f.cbSize - 1, 'z') + " \"")) << f.pszName;
    }
}
