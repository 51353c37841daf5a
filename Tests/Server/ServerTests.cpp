// The collecting server running as the service Quillfen, driven over
// loopback by clients of the tests' own.
#include "Common/Handles.h"
#include "Common/Records/EventLine.h"
#include "Common/Text.h"
#include "Tests/Server/ServerFixture.h"
#include "Tests/Server/TestClient.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestProcess.h"

#include <cstring>
#include <memory>
#include <random>

namespace
{
bool EndsWith(const std::string& strText, const std::string& strEnd)
{
    return strText.size() >= strEnd.size() && strText.compare(strText.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

std::string ComputerName()
{
    char szName[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD cch = sizeof(szName);
    GetComputerNameA(szName, &cch);
    return szName;
}

// The server's own lines: quoted date and time, the computer, the service's
// account, the type and the quoted text.
void ExpectServerLine(const std::string& strLine, const char* pszTypeAndEvent)
{
    std::string strMachine = "," + ComputerName() + ",";
    ASSERT_GT(strLine.size(), 21 + strMachine.size());
    EXPECT_EQ(strLine[0], '"') << strLine;
    EXPECT_EQ(strLine[20], '"') << strLine;
    EXPECT_EQ(strLine.substr(21, strMachine.size()), strMachine) << strLine;
    EXPECT_TRUE(EndsWith(strLine, pszTypeAndEvent)) << strLine;
}

std::string RandomBytes(std::mt19937& rng, size_t cb)
{
    std::string strBytes(cb, '\0');
    for (char& ch : strBytes)
        ch = static_cast<char>(rng() & 0xFF);
    return strBytes;
}

const EventRecord& AsRecord(const std::string& strBytes, size_t nIndex)
{
    return *reinterpret_cast<const EventRecord*>(strBytes.data() + nIndex * sizeof(EventRecord));
}
}  // namespace

class Server : public CServerFixture
{
protected:
    // Delivers records until Process.log holds 1024 bytes or more; n counts them.
    void FillLogToOneKilobyte(CTestClient& client, unsigned& n)
    {
        while (ReadWholeFile(LogPath()).size() < 1024)
            ASSERT_TRUE(client.Deliver(MakeRecord(n++)));
    }

    // Stops the server; the log must then hold the expected lines and the stop line.
    void StopAndExpectLog(const std::vector<std::string>& expected)
    {
        ASSERT_NO_FATAL_FAILURE(StopServer());
        std::vector<std::string> lines = LogLines();
        ASSERT_EQ(lines.size(), expected.size() + 1);
        ExpectServerLine(lines.back(), ",100,\"Server stopped\"\r\n");
        lines.pop_back();
        EXPECT_EQ(lines, expected);
    }

    // Starts with a limit of 1 kB and a log that has reached it.
    void StartWithAFullLog(CTestClient& client, unsigned& n)
    {
        ASSERT_NO_FATAL_FAILURE(StartServer("-LIMIT 1"));
        ASSERT_TRUE(client.Connect());
        ASSERT_NO_FATAL_FAILURE(FillLogToOneKilobyte(client, n));
    }
};

TEST_F(Server, LogsEachRecordBeforeAcknowledgingIt)
{
    ASSERT_NO_FATAL_FAILURE(StartServer());
    std::vector<std::string> expected = LogLines();
    ASSERT_EQ(expected.size(), 1u);
    ExpectServerLine(expected[0], ",90,\"Server started\"\r\n");

    CTestClient client;
    ASSERT_TRUE(client.Connect());
    for (unsigned n = 0; n < 6; ++n)
    {
        EventRecord record = MakeRecord(n);
        if (n == 2)
        {
            BuildEventRecord(&record, "Finished", EVENT_FINISHED, "front desk");
            CopyText(record.szProgram, "C:\\Apps\\Ledger\\Ledger.exe");
            CopyText(record.szDuration, "00:17:25");
            record.bActivity = NO_ACTIVITY;
        }
        if (n == 4)
            record.dwProcessId = 4294239649u;  // signed decimal on NT, whatever the client's platform
        ASSERT_TRUE(client.Deliver(record)) << "record " << n;
        // Read right after "written": the line must be there already.
        expected.push_back(ExpectedLine(record));
        ASSERT_EQ(LogLines(), expected) << "record " << n;
    }
    EXPECT_NE(expected[5].find(",-727647\r\n"), std::string::npos) << expected[5];
}

TEST_F(Server, TakesARecordHoweverTcpSplitsIt)
{
    ASSERT_NO_FATAL_FAILURE(StartServer());
    std::vector<std::string> expected = LogLines();

    CTestClient quiet;  // connects and closes without a byte
    ASSERT_TRUE(quiet.Connect());
    quiet.Close();

    CTestClient split;
    ASSERT_TRUE(split.Connect());
    EventRecord record = MakeRecord(1);
    const char* pBytes = reinterpret_cast<const char*>(&record);
    ASSERT_TRUE(split.Send(pBytes, 1));
    Sleep(100);
    ASSERT_TRUE(split.Send(pBytes + 1, 500));
    Sleep(100);
    ASSERT_TRUE(split.Send(pBytes + 501, sizeof(record) - 501));
    EXPECT_EQ(split.Receive(10000), Reply::Acknowledged);
    expected.push_back(ExpectedLine(record));
    EXPECT_EQ(split.Receive(500), Reply::Nothing) << "one record, one acknowledgement";

    // Two records in one write: two lines, two acknowledgements.
    EventRecord pair[2] = { MakeRecord(2), MakeRecord(3) };
    ASSERT_TRUE(split.Send(pair, sizeof(pair)));
    EXPECT_EQ(split.Receive(10000), Reply::Acknowledged);
    EXPECT_EQ(split.Receive(10000), Reply::Acknowledged);
    expected.push_back(ExpectedLine(pair[0]));
    expected.push_back(ExpectedLine(pair[1]));

    // Connections that end inside a record leave nothing of it.
    EventRecord lost = MakeRecord(4);
    CTestClient closing, resetting;
    ASSERT_TRUE(closing.Connect());
    ASSERT_TRUE(resetting.Connect());
    ASSERT_TRUE(closing.Send(&lost, 400));
    ASSERT_TRUE(resetting.Send(&lost, 783));
    Sleep(200);
    closing.Close();
    resetting.Abort();

    EventRecord last = MakeRecord(5);
    ASSERT_TRUE(split.Deliver(last));
    expected.push_back(ExpectedLine(last));

    // A stop is seen only after every completion before it has been handled.
    StopAndExpectLog(expected);
}

TEST_F(Server, ServesNineteenConnectionsAndHoldsBackTheTwentieth)
{
    ASSERT_NO_FATAL_FAILURE(StartServer());
    std::vector<std::string> expected = LogLines();

    CTestClient clients[19];
    for (unsigned n = 0; n < 19; ++n)
    {
        ASSERT_TRUE(clients[n].Connect()) << n;
        EventRecord record = MakeRecord(n);
        ASSERT_TRUE(clients[n].Deliver(record)) << n;
        expected.push_back(ExpectedLine(record));
    }

    // The twentieth gets through to the backlog but is not served...
    CTestClient twentieth;
    ASSERT_TRUE(twentieth.Connect());
    EventRecord waiting = MakeRecord(100);
    ASSERT_TRUE(twentieth.Send(waiting));
    EXPECT_EQ(twentieth.Receive(1500), Reply::Nothing);
    EXPECT_EQ(LogLines(), expected);

    // ...until one closes. Closing the third connection moves the last one
    // (the nineteenth) into its entry.
    clients[2].Close();
    EXPECT_EQ(twentieth.Receive(10000), Reply::Acknowledged);
    expected.push_back(ExpectedLine(waiting));
    EXPECT_EQ(LogLines(), expected);

    EventRecord moved = MakeRecord(218);
    EXPECT_TRUE(clients[18].Deliver(moved)) << "the moved connection";
    expected.push_back(ExpectedLine(moved));
    for (unsigned n = 0; n < 18; ++n)
    {
        if (n == 2)
            continue;
        EventRecord record = MakeRecord(200 + n);
        EXPECT_TRUE(clients[n].Deliver(record)) << n;
        expected.push_back(ExpectedLine(record));
    }
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(Server, RotatesBeforeTheLineThatFindsTheLimitReached)
{
    ASSERT_NO_FATAL_FAILURE(StartServer("-LIMIT 1"));
    CTestClient client;
    ASSERT_TRUE(client.Connect());

    unsigned n = 0;
    for (int nGeneration = 0; nGeneration < 2; ++nGeneration)
    {
        EXPECT_EQ(FileExists(OldLogPath()), nGeneration > 0);
        ASSERT_NO_FATAL_FAILURE(FillLogToOneKilobyte(client, n));
        EXPECT_EQ(FileExists(OldLogPath()), nGeneration > 0) << "rotated below the limit";
        std::string strFull = ReadWholeFile(LogPath());
        EventRecord record = MakeRecord(n++);
        ASSERT_TRUE(client.Deliver(record));
        EXPECT_EQ(ReadWholeFile(OldLogPath()), strFull) << "generation " << nGeneration;
        EXPECT_EQ(ReadWholeFile(LogPath()), ExpectedLine(record)) << "generation " << nGeneration;
    }
}

TEST_F(Server, WritesItsStopLineWithConnectionsOpen)
{
    ASSERT_NO_FATAL_FAILURE(StartServer());
    std::vector<std::string> expected = LogLines();

    CTestClient idle, partial, served;
    ASSERT_TRUE(idle.Connect());
    ASSERT_TRUE(partial.Connect());
    ASSERT_TRUE(served.Connect());
    EventRecord record = MakeRecord(1);
    ASSERT_TRUE(served.Deliver(record));
    expected.push_back(ExpectedLine(record));
    ASSERT_TRUE(partial.Send(&record, 300));

    StopAndExpectLog(expected);
    EXPECT_EQ(idle.Receive(10000), Reply::Closed);
    EXPECT_EQ(partial.Receive(10000), Reply::Closed);
}

TEST_F(Server, KeepsEveryLineWhenTheLogCannotBeEmptied)
{
    CTestClient client;
    unsigned n = 0;
    ASSERT_NO_FATAL_FAILURE(StartWithAFullLog(client, n));
    std::string strFull = ReadWholeFile(LogPath());

    // A mapped file cannot be truncated: the rotation's fresh log fails.
    CFileHandle hReader(CreateFileA(LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(hReader);
    CHandle hMapping(CreateFileMappingA(hReader.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    ASSERT_TRUE(hMapping);
    const void* pView = MapViewOfFile(hMapping.Get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(pView, nullptr);

    EventRecord record = MakeRecord(n++);
    EXPECT_TRUE(client.Deliver(record));
    std::string strLine = ExpectedLine(record);
    EXPECT_EQ(ReadWholeFile(LogPath()), strFull + strLine) << "appended to the full log";

    UnmapViewOfFile(pView);
    hMapping.Close();
    hReader.Close();
    EventRecord next = MakeRecord(n++);
    EXPECT_TRUE(client.Deliver(next));
    EXPECT_EQ(ReadWholeFile(OldLogPath()), strFull + strLine);
    EXPECT_EQ(ReadWholeFile(LogPath()), ExpectedLine(next));
}

TEST_F(Server, DoesNotAcknowledgeARecordItCannotLog)
{
    CTestClient client;
    unsigned n = 0;
    ASSERT_NO_FATAL_FAILURE(StartWithAFullLog(client, n));
    std::string strFull = ReadWholeFile(LogPath());

    // Take the log's folder away: the rotation can neither copy nor reopen it.
    std::string strMoved = m_Folder.Path() + "-moved";
    if (!MoveFileA(m_Folder.Path().c_str(), strMoved.c_str()))
        GTEST_SKIP() << "this system keeps a folder with an open file from being renamed";
    struct CMoveBack
    {
        const std::string& strFrom;
        const std::string& strTo;
        ~CMoveBack() { MoveFileA(strFrom.c_str(), strTo.c_str()); }
    } moveBack{ strMoved, m_Folder.Path() };

    EventRecord lost = MakeRecord(n++);
    ASSERT_TRUE(client.Send(lost));
    EXPECT_EQ(client.Receive(10000), Reply::Closed) << "closed without an acknowledgement";

    ASSERT_TRUE(MoveFileA(strMoved.c_str(), m_Folder.Path().c_str()));
    CTestClient again;
    ASSERT_TRUE(again.Connect());
    EventRecord record = MakeRecord(n++);
    EXPECT_TRUE(again.Deliver(record));
    EXPECT_EQ(ReadWholeFile(OldLogPath()), strFull);
    EXPECT_EQ(ReadWholeFile(LogPath()), ExpectedLine(record));
}

TEST_F(Server, StaysUpAndServesThroughHostileInput)
{
    ASSERT_NO_FATAL_FAILURE(StartServer());
    std::vector<std::string> expected = LogLines();
    std::mt19937 rng(6401);

    {
        // Random bytes: each whole 784 of them is a record, the tail is not.
        CTestClient noise;
        ASSERT_TRUE(noise.Connect());
        std::string strNoise = RandomBytes(rng, 3 * sizeof(EventRecord) + 100);
        ASSERT_TRUE(noise.Send(strNoise.data(), strNoise.size()));
        for (size_t i = 0; i < 3; ++i)
        {
            EXPECT_EQ(noise.Receive(10000), Reply::Acknowledged) << i;
            expected.push_back(ExpectedLine(AsRecord(strNoise, i)));
        }
        EXPECT_EQ(noise.Receive(500), Reply::Nothing);
    }
    {
        // One oversized write of ten records.
        CTestClient burst;
        ASSERT_TRUE(burst.Connect());
        std::vector<EventRecord> records;
        for (unsigned n = 0; n < 10; ++n)
            records.push_back(MakeRecord(n));
        ASSERT_TRUE(burst.Send(records.data(), records.size() * sizeof(EventRecord)));
        for (const EventRecord& record : records)
        {
            EXPECT_EQ(burst.Receive(10000), Reply::Acknowledged);
            expected.push_back(ExpectedLine(record));
        }
    }

    // Idle connections, and a storm of connects that close, reset or leave a
    // scrap of a record behind.
    CTestClient idle[10];
    for (CTestClient& client : idle)
        ASSERT_TRUE(client.Connect());
    for (int i = 0; i < 150; ++i)
    {
        CTestClient storm;
        ASSERT_TRUE(storm.Connect()) << i;
        if (i % 3 == 0)
        {
            std::string strScrap = RandomBytes(rng, 1 + rng() % 783);
            storm.Send(strScrap.data(), strScrap.size());
        }
        if (i % 2 == 0)
            storm.Abort();
    }

    CTestClient client;
    ASSERT_TRUE(client.Connect());
    EventRecord record = MakeRecord(42);
    EXPECT_TRUE(client.Deliver(record));
    expected.push_back(ExpectedLine(record));
    EXPECT_TRUE(idle[9].Deliver(record)) << "an idle connection still works";
    expected.push_back(ExpectedLine(record));

    StopAndExpectLog(expected);
}
