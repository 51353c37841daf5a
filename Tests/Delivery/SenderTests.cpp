#include "Client/WinNT/Logger.h"
#include "Tests/Delivery/LoggerFixture.h"
#include "Tests/Delivery/TestServer.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace
{

constexpr DWORD WAIT_MS = 15000;

// Requests one more delivery pass, once the sender has made its wake-up event.
void WakeSender()
{
    for (int i = 0; i < 500 && !g_hSenderWakeup; ++i)
        Sleep(10);
    ASSERT_NE(nullptr, g_hSenderWakeup);
    SetEvent(g_hSenderWakeup);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = WAIT_MS)
{
    for (DWORD dwWaited = 0; !condition(); dwWaited += 10)
    {
        if (dwWaited >= dwTimeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

// A logger that delivers to the server named pszServer, its files in the folder.
std::unique_ptr<CLogger> MakeLogger(const CTestFolder& folder, const char* pszServer = "127.0.0.1")
{
    UseOutputFolder(folder.Path());
    auto pLogger = std::make_unique<CLogger>();
    pLogger->ServerDelivery = true;
    CopyText(pLogger->m_szServer, pszServer);
    return pLogger;
}

void StartDelivery(CLogger& logger)
{
    logger.SetPaths("Process.log", "\\Process.old.log", "\\buffer.dat");
}

// The sender: one acknowledged record at a time, over one kept connection.
TEST(Sender, SendsOneRecordPerAcknowledgementOverOneKeptConnection)
{
    CTestFolder folder;
    CTestServer server;
    ASSERT_TRUE(server.IsListening());
    server.Script({ { Reply::Written, 600 } });  // the first acknowledgement comes late

    auto pLogger = MakeLogger(folder);
    StartDelivery(*pLogger);
    // With nothing queued the first pass still connects, and the connection stays.
    ASSERT_TRUE(server.WaitForConnections(1, WAIT_MS));
    Sleep(300);

    const EventRecord records[] = { MakeRecord("C:\\A.EXE", 1), MakeRecord("C:\\B.EXE", 2),
                                    MakeRecord("C:\\C.EXE", 3) };
    pLogger->Enqueue(&records[0]);
    pLogger->Enqueue(&records[1]);
    WakeSender();
    // Queued while the first exchange waits for its acknowledgement: same pass.
    ASSERT_TRUE(server.WaitForRecords(1, WAIT_MS));
    pLogger->Enqueue(&records[2]);
    ASSERT_TRUE(server.WaitForRecords(3, WAIT_MS));
    ASSERT_TRUE(WaitUntil([&] { return pLogger->m_Queue.GetCount() == 0; }));

    const std::vector<ReceivedRecord> received = server.Records();
    ASSERT_EQ(3u, received.size());
    for (size_t i = 0; i < received.size(); ++i)
    {
        EXPECT_EQ(RecordBytes(records[i]), RecordBytes(received[i].record)) << i;
        EXPECT_EQ(1, received[i].nConnection) << i;
        EXPECT_EQ(0u, received[i].cbEarlyBytes) << "nothing more is sent before the acknowledgement, " << i;
        if (i > 0)
        {
            EXPECT_GE(received[i].dReceivedMs - received[i - 1].dRepliedMs, 295.0) << i;
        }
    }
    EXPECT_GE(received[1].dReceivedMs - received[0].dReceivedMs, 600.0 + 295.0);

    // The idle connection is kept across passes.
    WakeSender();
    Sleep(500);
    EXPECT_EQ(1, server.Connections());
    EXPECT_EQ(0, server.ClosedConnections());
    EXPECT_FALSE(FileExists(folder.File("buffer.dat")));
}

TEST(Sender, AWrongAcknowledgementFailsThePassAndTheRecordGoesAgain)
{
    const struct
    {
        const char* pszName;
        Reply       reply;
    } cases[] = {
        { "seven bytes", Reply::SevenBytes },
        { "wrong eight bytes", Reply::WrongBytes },
        { "no reply", Reply::Close },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CTestFolder folder;
        CTestServer server;
        ASSERT_TRUE(server.IsListening());
        server.Script({ { c.reply, 0 } });

        auto pLogger = MakeLogger(folder);
        const EventRecord a = MakeRecord("C:\\A.EXE", 1);
        const EventRecord b = MakeRecord("C:\\B.EXE", 2);
        pLogger->Enqueue(&a);
        pLogger->Enqueue(&b);
        StartDelivery(*pLogger);
        ASSERT_TRUE(server.WaitForRecords(1, WAIT_MS));
        ASSERT_TRUE(server.WaitForClosed(1, WAIT_MS));  // the client gave the connection up
        EXPECT_EQ(2u, pLogger->m_Queue.GetCount());

        WakeSender();
        ASSERT_TRUE(server.WaitForRecords(3, WAIT_MS));
        const std::vector<ReceivedRecord> received = server.Records();
        EXPECT_EQ(RecordBytes(a), RecordBytes(received[0].record));
        EXPECT_EQ(1, received[0].nConnection);
        EXPECT_EQ(RecordBytes(a), RecordBytes(received[1].record));
        EXPECT_EQ(2, received[1].nConnection);
        EXPECT_EQ(RecordBytes(b), RecordBytes(received[2].record));
        EXPECT_EQ(2, received[2].nConnection);
    }
}

TEST(Sender, ConnectsByNameDotOrAddress)
{
    const struct
    {
        const char* pszServer;
        const char* pszLookedUp;
        const char* pszListenOn;
    } cases[] = {
        { ".", "localhost", "127.0.0.1" },
        { "localhost", "localhost", "127.0.0.1" },
        { "127.0.0.1", "127.0.0.1", "127.0.0.1" },
        // No reverse entry for this one: the address itself is used.
        { "127.0.0.2", "127.0.0.2", "127.0.0.2" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszServer);
        CTestFolder folder;
        CTestServer server(c.pszListenOn);
        ASSERT_TRUE(server.IsListening());
        auto pLogger = MakeLogger(folder, c.pszServer);
        const EventRecord a = MakeRecord("C:\\A.EXE", 1);
        pLogger->Enqueue(&a);
        StartDelivery(*pLogger);
        EXPECT_STREQ(c.pszLookedUp, pLogger->m_szServer);
        ASSERT_TRUE(server.WaitForRecords(1, WAIT_MS));
        EXPECT_EQ(RecordBytes(a), RecordBytes(server.Records()[0].record));
    }
}

TEST(Sender, EveryTwentyFifthFailedPassSpillsAndADrainedQueueDeletesTheSpill)
{
    CTestFolder folder;
    CTestServer server;
    ASSERT_TRUE(server.IsListening());
    server.CloseOnAccept(true);  // every pass connects and then fails

    auto pLogger = MakeLogger(folder);
    const EventRecord records[] = { MakeRecord("C:\\A.EXE", 1), MakeRecord("C:\\B.EXE", 2),
                                    MakeRecord("C:\\C.EXE", 3) };
    for (const EventRecord& record : records)
        pLogger->Enqueue(&record);
    StartDelivery(*pLogger);
    const std::string strBuffer = folder.File("buffer.dat");
    for (int nPass = 1; nPass < 25; ++nPass)
    {
        ASSERT_TRUE(server.WaitForConnections(nPass, WAIT_MS)) << nPass;
        WakeSender();
    }
    // Pass 25 has connected, so pass 24 is over: no spill yet.
    ASSERT_TRUE(server.WaitForConnections(25, WAIT_MS));
    EXPECT_FALSE(FileExists(strBuffer));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(strBuffer); }));
    EXPECT_EQ(RecordBytes(records[0]) + RecordBytes(records[1]) + RecordBytes(records[2]), ReadWholeFile(strBuffer));
    EXPECT_EQ(3u, pLogger->m_Queue.GetCount());

    server.CloseOnAccept(false);
    WakeSender();
    ASSERT_TRUE(server.WaitForRecords(3, WAIT_MS));
    ASSERT_TRUE(WaitUntil([&] { return !FileExists(strBuffer); }));
    const std::vector<ReceivedRecord> received = server.Records();
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(RecordBytes(records[i]), RecordBytes(received[i].record)) << i;
}

TEST(Sender, AStopWithTheServerDownSpillsAndTheNextLoggerSendsThoseFirst)
{
    CTestFolder folder;
    const std::string strBuffer = folder.File("buffer.dat");
    const EventRecord a = MakeRecord("C:\\A.EXE", 1);
    const EventRecord b = MakeRecord("C:\\B.EXE", 2);
    const EventRecord c = MakeRecord("C:\\C.EXE", 3);
    {
        auto pLogger = MakeLogger(folder);
        pLogger->Enqueue(&a);
        pLogger->Enqueue(&b);
        StartDelivery(*pLogger);
    }
    ASSERT_EQ(RecordBytes(a) + RecordBytes(b), ReadWholeFile(strBuffer));

    auto pLogger = MakeLogger(folder);
    StartDelivery(*pLogger);
    // Kept until its records are delivered: a client killed now loses none.
    EXPECT_EQ(RecordBytes(a) + RecordBytes(b), ReadWholeFile(strBuffer));
    CTestServer server;
    ASSERT_TRUE(server.IsListening());
    WakeSender();
    pLogger->Enqueue(&c);
    ASSERT_TRUE(server.WaitForRecords(2, WAIT_MS));
    WakeSender();
    ASSERT_TRUE(server.WaitForRecords(3, WAIT_MS));
    const std::vector<ReceivedRecord> received = server.Records();
    EXPECT_EQ(RecordBytes(a), RecordBytes(received[0].record));
    EXPECT_EQ(RecordBytes(b), RecordBytes(received[1].record));
    EXPECT_EQ(RecordBytes(c), RecordBytes(received[2].record));

    // Stopping with everything delivered leaves no spill behind.
    ASSERT_TRUE(WaitUntil([&] { return pLogger->m_Queue.GetCount() == 0; }));
    pLogger.reset();
    EXPECT_FALSE(FileExists(strBuffer));
}

// With the server down: what a spill file gives the queue at start, and what
// the stop writes back.
TEST(Sender, LoadsTheWholeRecordsOfASpillFile)
{
    const std::string strTwo = RecordBytes(MakeRecord("C:\\A.EXE", 1)) + RecordBytes(MakeRecord("C:\\B.EXE", 2));
    const struct
    {
        const char* pszName;
        std::string strContent;
        UINT        nRecords;
    } cases[] = {
        { "two records", strTwo, 2 },
        { "torn tail", strTwo + std::string(100, 'x'), 2 },
        { "empty", "", 0 },
        { "less than one record", std::string(100, 'x'), 0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CTestFolder folder;
        const std::string strBuffer = folder.File("buffer.dat");
        ASSERT_TRUE(WriteWholeFile(strBuffer, c.strContent));
        auto pLogger = MakeLogger(folder);
        StartDelivery(*pLogger);
        // A file with whole records stays until they are delivered; one with none goes at once.
        EXPECT_EQ(c.nRecords != 0, FileExists(strBuffer));
        ASSERT_EQ(c.nRecords, pLogger->m_Queue.GetCount());
        for (UINT i = 0; i < c.nRecords; ++i)
            EXPECT_EQ(strTwo.substr(i * sizeof(EventRecord), sizeof(EventRecord)),
                      RecordBytes(*pLogger->m_Queue.Get(i)));
        pLogger.reset();
        EXPECT_EQ(c.nRecords != 0, FileExists(strBuffer));
        EXPECT_EQ(strTwo.substr(0, c.nRecords * sizeof(EventRecord)), ReadWholeFile(strBuffer));
    }
}

TEST(Sender, AFailedSpillKeepsThePreviousSpillFile)
{
    CTestFolder folder;
    const std::string strBuffer = folder.File("buffer.dat");
    auto pLogger = MakeLogger(folder);
    const EventRecord y = MakeRecord("C:\\Y.EXE", 2);
    pLogger->Enqueue(&y);
    StartDelivery(*pLogger);

    // An earlier spill, and a new one that cannot be written: a folder stands
    // where the spill is written before it replaces buffer.dat.
    const std::string strEarlier = RecordBytes(MakeRecord("C:\\X.EXE", 1));
    ASSERT_TRUE(WriteWholeFile(strBuffer, strEarlier));
    ASSERT_TRUE(CreateDirectoryA((strBuffer + ".tmp").c_str(), nullptr));
    pLogger.reset();
    EXPECT_EQ(strEarlier, ReadWholeFile(strBuffer));
}

}  // namespace
