// Fault injection against the real services: the server killed in the
// middle of a load, the server down across many delivery passes, the client
// service stopped while the server is down, the client killed, the server's
// disk full, and hostile input. Every case prints one FAULT line with the
// records sent, acknowledged, logged, lost and duplicated, and fails when an
// acknowledged or spilled record is missing from the server's log.
// Run by tools/faults.sh, which also maps the small drive Q: for the full disk.
#include "Benchmarks/Support/Measure.h"
#include "Common/Records/EventLine.h"
#include "Tests/Support/TestFolder.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <thread>

namespace
{
const char SERVER[] = "Quillfen";
const char CLIENT[] = "QFClient";

struct Tally
{
    int nSent = 0;
    int nAcknowledged = 0;
    int nLogged = 0;
    int nLost = 0;
    int nDuplicated = 0;

    Tally& operator+=(const Tally& other)
    {
        nSent += other.nSent;
        nAcknowledged += other.nAcknowledged;
        nLogged += other.nLogged;
        nLost += other.nLost;
        nDuplicated += other.nDuplicated;
        return *this;
    }
};

// The case's line, printed with its result when the case ends.
std::string g_strReport;

void Report(const char* pszCase, const Tally& tally, const std::string& strNote)
{
    char szCounts[128];
    snprintf(szCounts, sizeof(szCounts), "%d\t%d\t%d\t%d\t%d", tally.nSent, tally.nAcknowledged, tally.nLogged,
             tally.nLost, tally.nDuplicated);
    g_strReport = std::string(pszCase) + "\t" + szCounts + "\t" + strNote;
}

// How often each numbered record of the tag stands in the log.
std::map<DWORD, int> CountRecords(const std::string& strLogPath, const char* pszTag)
{
    std::string strMark = std::string("\\Load\\") + pszTag + "\\";
    std::map<DWORD, int> counts;
    for (const std::string& strLine : ReadLines(strLogPath))
    {
        size_t nAt = strLine.find(strMark);
        if (nAt != std::string::npos)
            ++counts[strtoul(strLine.c_str() + nAt + strMark.size(), nullptr, 10)];
    }
    return counts;
}

// Records nFirst .. nFirst + nCount - 1 of the tag against the log.
Tally TallyRecords(const std::string& strLogPath, const char* pszTag, DWORD nFirst, DWORD nCount)
{
    std::map<DWORD, int> counts = CountRecords(strLogPath, pszTag);
    Tally tally;
    tally.nSent = static_cast<int>(nCount);
    for (DWORD n = nFirst; n < nFirst + nCount; ++n)
    {
        auto it = counts.find(n);
        if (it == counts.end())
            continue;
        ++tally.nLogged;
        tally.nDuplicated += it->second - 1;
    }
    tally.nLost = tally.nSent - tally.nLogged;
    return tally;
}

bool WaitFor(const std::function<bool()>& condition, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (!condition())
    {
        if (GetTickCount() - dwStart > dwTimeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

LONGLONG FileSize(const std::string& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(strPath.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The FaultClient helper: the client's own logger driven by the test.
class CFaultClient
{
public:
    CFaultClient(const std::string& strFolder, const char* pszTag, DWORD nFirst, DWORD nCount, DWORD nPasses,
                 DWORD dwIntervalMs, DWORD nAdd, const char* pszMode)
        : m_strStatus(strFolder + "\\" + pszTag + ".status")
    {
        char szArgs[128];
        snprintf(szArgs, sizeof(szArgs), " %s %lu %lu %lu %lu %lu %s", pszTag, static_cast<unsigned long>(nFirst),
                 static_cast<unsigned long>(nCount), static_cast<unsigned long>(nPasses),
                 static_cast<unsigned long>(dwIntervalMs), static_cast<unsigned long>(nAdd), pszMode);
        m_process.Reset(StartProgram(ProgramPath("FaultClient.exe"), "\"" + strFolder + "\"" + szArgs));
    }
    ~CFaultClient()
    {
        if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
            Kill();
    }
    CFaultClient(const CFaultClient&) = delete;
    CFaultClient& operator=(const CFaultClient&) = delete;

    bool IsStarted() const { return m_process.IsValid(); }
    // Waits until it reports done=1 (its passes made, its records added).
    bool WaitDone(DWORD dwTimeoutMs)
    {
        return WaitFor([this] { return ReadWholeFile(m_strStatus).find("done=1") != std::string::npos; },
                       dwTimeoutMs);
    }
    // Its exit code, 0xFFFFFFFF when it did not end in time.
    DWORD WaitExit(DWORD dwTimeoutMs)
    {
        DWORD dwExitCode = 0xFFFFFFFF;
        if (WaitForSingleObject(m_process.Get(), dwTimeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process.Get(), &dwExitCode);
        return dwExitCode;
    }
    // Ends it as a crash would: nothing runs after this.
    void Kill()
    {
        TerminateProcess(m_process.Get(), 9);
        WaitForSingleObject(m_process.Get(), 30000);
    }

private:
    std::string m_strStatus;
    CHandle     m_process;
};

void DeleteKeyTree(const char* pszKey)
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, pszKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, pszKey);
}

// The suite installs the collecting server once; each case points it at a
// log folder of its own.
class FaultInjection : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        RunProgram(ProgramPath("QFServer.exe"), "-I");
    }
    static void TearDownTestSuite()
    {
        StopServiceAndWait(SERVER);
        RunProgram(ProgramPath("QFServer.exe"), "-U");
        DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services\\Quillfen");
        DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Quillfen");
    }
    void TearDown() override
    {
        StopServiceAndWait(SERVER);
        if (!g_strReport.empty())
            printf("FAULT\t%s\t%s\n", HasFailure() ? "FAILED" : "passed", g_strReport.c_str());
        fflush(stdout);
        g_strReport.clear();
    }

    // Stops the server and makes strFolder its log folder from its next start.
    void UseServerFolder(const std::string& strFolder)
    {
        StopServiceAndWait(SERVER);
        m_strLog = strFolder + "\\Process.log";
        RunProgram(ProgramPath("QFServer.exe"), "-RESET -PATH \"" + strFolder + "\"");
    }
    // Starts the server and waits until it accepts connections.
    bool StartServer()
    {
        if (!StartServiceAndWait(SERVER))
            return false;
        return WaitFor([] { CWireClient probe; return probe.Connect(); }, 20000);
    }

    CWinsock    m_Winsock;
    std::string m_strLog;
};

TEST_F(FaultInjection, ServerKilledMidLoad)
{
    CTestFolder serverFolder, clientA, clientB;
    UseServerFolder(serverFolder.Path());
    ASSERT_TRUE(StartServer());

    // Two bare senders that know exactly which record was acknowledged, and
    // two clients with the client's own logger.
    const DWORD nRaw = 600;
    std::vector<std::atomic<bool>> acknowledged(nRaw);
    std::atomic<bool> bGiveUp(false);
    std::vector<std::thread> senders;
    // The senders end on every way out of the case, a failed assertion included.
    struct CJoin
    {
        std::atomic<bool>&        bStop;
        std::vector<std::thread>& threads;
        ~CJoin()
        {
            bStop = true;
            for (std::thread& thread : threads)
                if (thread.joinable())
                    thread.join();
        }
    } join{bGiveUp, senders};
    for (DWORD t = 0; t < 2; ++t)
        senders.emplace_back([&, t] {
            CWireClient client;
            for (DWORD n = t; n < nRaw && !bGiveUp; n += 2)
            {
                EventRecord record = MakeLoadRecord("k1raw", n);
                while (!bGiveUp && !acknowledged[n])
                {
                    if (client.IsConnected() || client.Connect(2000))
                        acknowledged[n] = client.SendRecord(record);
                    if (!acknowledged[n])
                        Sleep(100);
                }
            }
        });
    CFaultClient a(clientA.Path(), "k1a", 0, 60, 0, 200, 0, "drain");
    CFaultClient b(clientB.Path(), "k1b", 0, 60, 0, 200, 0, "drain");
    Sleep(3000);

    ASSERT_TRUE(KillService(SERVER));
    int nAckedAtKill = 0, nAckedMissing = 0;
    std::map<DWORD, int> logAtKill = CountRecords(m_strLog, "k1raw");
    for (DWORD n = 0; n < nRaw; ++n)
        if (acknowledged[n])
        {
            ++nAckedAtKill;
            nAckedMissing += logAtKill.count(n) == 0;
        }
    Sleep(3000);
    ASSERT_TRUE(StartServer());

    DWORD dwExitA = a.WaitExit(150000);
    DWORD dwExitB = b.WaitExit(150000);
    WaitFor([&] {
        for (DWORD n = 0; n < nRaw; ++n)
            if (!acknowledged[n])
                return false;
        return true;
    }, 60000);
    bGiveUp = true;
    for (std::thread& sender : senders)
        sender.join();

    Tally raw = TallyRecords(m_strLog, "k1raw", 0, nRaw);
    for (DWORD n = 0; n < nRaw; ++n)
        raw.nAcknowledged += acknowledged[n];
    Tally clients = TallyRecords(m_strLog, "k1a", 0, 60);
    clients += TallyRecords(m_strLog, "k1b", 0, 60);
    clients.nAcknowledged = (dwExitA == 0 ? 60 : 0) + (dwExitB == 0 ? 60 : 0);
    Tally total = raw;
    total += clients;
    Report("server killed mid-load", total,
           std::to_string(nAckedAtKill) + " acknowledged before the kill, " + std::to_string(nAckedMissing) +
               " of them missing from the log at the kill; clients drained: " + (dwExitA == 0 && dwExitB == 0 ? "yes" : "no"));
    EXPECT_EQ(nAckedMissing, 0);
    EXPECT_EQ(dwExitA, 0u);
    EXPECT_EQ(dwExitB, 0u);
    EXPECT_EQ(total.nLost, 0);
}

TEST_F(FaultInjection, ServerDownAcrossManyPasses)
{
    CTestFolder serverFolder, clientFolder;
    UseServerFolder(serverFolder.Path());
    const DWORD nRecords = 60;
    std::string strBuffer = clientFolder.File("buffer.dat");
    CFaultClient client(clientFolder.Path(), "k2", 0, nRecords, 30, 100, 0, "drain");
    ASSERT_TRUE(client.IsStarted());

    // The 25th failed pass spills the whole queue, in order.
    ASSERT_TRUE(WaitFor([&] { return FileSize(strBuffer) == LONGLONG(nRecords * EVENT_RECORD_SIZE); }, 30000));
    std::string strSpilled = ReadWholeFile(strBuffer);
    int nOutOfOrder = 0;
    for (DWORD n = 0; n < nRecords && (n + 1) * EVENT_RECORD_SIZE <= strSpilled.size(); ++n)
    {
        EventRecord record;
        memcpy(&record, strSpilled.data() + n * EVENT_RECORD_SIZE, sizeof(record));
        nOutOfOrder += std::string(record.szProgram) != "C:" + LoadRecordMark("k2", n);
    }
    EXPECT_EQ(nOutOfOrder, 0);

    ASSERT_TRUE(StartServer());
    DWORD dwExit = client.WaitExit(150000);
    bool bBufferGone = FileSize(strBuffer) < 0;

    Tally tally = TallyRecords(m_strLog, "k2", 0, nRecords);
    tally.nAcknowledged = dwExit == 0 ? static_cast<int>(nRecords) : 0;
    // The log keeps the queue's order.
    DWORD nExpected = 0;
    int nOrderBreaks = 0;
    for (const std::string& strLine : ReadLines(m_strLog))
        if (strLine.find("\\Load\\k2\\") != std::string::npos)
        {
            DWORD n = strtoul(strLine.c_str() + strLine.find("\\Load\\k2\\") + 9, nullptr, 10);
            nOrderBreaks += n != nExpected && n + 1 != nExpected;
            nExpected = n + 1;
        }
    Report("server down across many passes", tally,
           std::to_string(nRecords) + " spilled after 25 failed passes, " + std::to_string(nOutOfOrder) +
               " out of order in buffer.dat; order breaks in the log: " + std::to_string(nOrderBreaks) +
               "; buffer.dat gone after draining: " + (bBufferGone ? "yes" : "no"));
    EXPECT_EQ(dwExit, 0u) << "the client did not drain its queue and remove buffer.dat";
    EXPECT_TRUE(bBufferGone);
    EXPECT_EQ(nOrderBreaks, 0);
    EXPECT_EQ(tally.nLost, 0);
}

// Lines of a log without the server's own start and stop lines.
std::vector<std::string> RecordLines(const std::string& strPath)
{
    std::vector<std::string> lines;
    for (const std::string& strLine : ReadLines(strPath))
        if (!strLine.empty() && strLine.find(",90,\"Server started\"") == std::string::npos &&
            strLine.find(",100,\"Server stopped\"") == std::string::npos)
            lines.push_back(strLine);
    return lines;
}

TEST_F(FaultInjection, ClientServiceStoppedWhileServerDown)
{
    CTestFolder serverFolder, clientFolder;
    UseServerFolder(serverFolder.Path());
    RunProgram(ProgramPath("qfnt.exe"), "-RESET -SERVER 127.0.0.1 -PATH \"" + clientFolder.Path() + "\"");
    RunProgram(ProgramPath("qfnt.exe"), "-I");
    struct CUninstall
    {
        ~CUninstall()
        {
            StopServiceAndWait(CLIENT);
            RunProgram(ProgramPath("qfnt.exe"), "-U");
            DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services\\QFClient");
            DeleteKeyTree("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QFClient");
        }
    } uninstall;

    // With the server down: the first tick lists every process, the stop's
    // last pass fails and the queue goes to buffer.dat.
    ASSERT_TRUE(StartServiceAndWait(CLIENT));
    Sleep(8000);
    ASSERT_TRUE(StopServiceAndWaitForExit(CLIENT));
    std::string strBuffer = clientFolder.File("buffer.dat");
    LONGLONG cbSpilled = FileSize(strBuffer);
    std::vector<std::string> firstRun = RecordLines(clientFolder.File("Process.log"));
    ASSERT_GT(cbSpilled, 0);
    ASSERT_EQ(cbSpilled % EVENT_RECORD_SIZE, 0);
    size_t nSpilled = static_cast<size_t>(cbSpilled / EVENT_RECORD_SIZE);
    EXPECT_EQ(nSpilled, firstRun.size()) << "every record of the first run should wait in buffer.dat";

    ASSERT_TRUE(StartServer());
    ASSERT_TRUE(StartServiceAndWait(CLIENT));
    Sleep(8000);
    ASSERT_TRUE(StopServiceAndWaitForExit(CLIENT));

    // The client's own log holds every record it made, in the order made.
    std::vector<std::string> made = RecordLines(clientFolder.File("Process.log"));
    std::vector<std::string> logged = RecordLines(m_strLog);
    size_t nInOrder = 0;
    while (nInOrder < nSpilled && nInOrder < logged.size() && logged[nInOrder] == firstRun[nInOrder])
        ++nInOrder;
    std::map<std::string, int> remaining;
    for (const std::string& strLine : logged)
        ++remaining[strLine];
    Tally tally;
    tally.nSent = static_cast<int>(made.size());
    for (const std::string& strLine : made)
    {
        auto it = remaining.find(strLine);
        if (it != remaining.end() && it->second > 0)
        {
            --it->second;
            ++tally.nLogged;
        }
    }
    tally.nLost = tally.nSent - tally.nLogged;
    tally.nDuplicated = static_cast<int>(logged.size()) - tally.nLogged;
    tally.nAcknowledged = FileSize(strBuffer) < 0 ? tally.nSent : tally.nLogged;
    Report("client stopped while server down", tally,
           std::to_string(nSpilled) + " spilled at the stop; the first " + std::to_string(nInOrder) +
               " lines of the server's log are those, in order");
    EXPECT_EQ(nInOrder, nSpilled) << "the spilled records must go first";
    EXPECT_EQ(tally.nLost, 0);
    EXPECT_LT(FileSize(strBuffer), 0) << "buffer.dat should be gone once delivered";
}

TEST_F(FaultInjection, ClientKilledLosesOnlyWhatWasQueuedSinceItsLastPassOrSpill)
{
    CTestFolder serverFolder, upFolder, downFolder;
    UseServerFolder(serverFolder.Path());
    ASSERT_TRUE(StartServer());

    // Server up: the first pass delivers 10; 15 queued after it die with the process.
    {
        CFaultClient client(upFolder.Path(), "k4a", 0, 10, 0, 100, 15, "hang");
        ASSERT_TRUE(client.WaitDone(60000));
        client.Kill();
    }
    Tally up = TallyRecords(m_strLog, "k4a", 0, 25);
    Tally upDelivered = TallyRecords(m_strLog, "k4a", 0, 10);

    // Server down: 30 spilled at the 25th failed pass; 12 queued after the spill die.
    StopServiceAndWait(SERVER);
    {
        CFaultClient client(downFolder.Path(), "k4b", 0, 30, 30, 100, 12, "hang");
        ASSERT_TRUE(client.WaitDone(60000));
        client.Kill();
    }
    LONGLONG cbSpilled = FileSize(downFolder.File("buffer.dat"));
    ASSERT_TRUE(StartServer());
    {
        CFaultClient restarted(downFolder.Path(), "k4c", 0, 0, 0, 100, 0, "drain");
        EXPECT_EQ(restarted.WaitExit(150000), 0u);
    }
    Tally down = TallyRecords(m_strLog, "k4b", 0, 42);
    Tally downSpilled = TallyRecords(m_strLog, "k4b", 0, 30);

    Tally total = up;
    total += down;
    total.nAcknowledged = upDelivered.nLogged + downSpilled.nLogged;
    Report("client process killed", total,
           "loss window: server up, " + std::to_string(up.nLost) +
               " lost = the records queued since the last delivery pass; server down, " +
               std::to_string(down.nLost) + " lost = the records queued since the last spill (" +
               std::to_string(cbSpilled / LONGLONG(EVENT_RECORD_SIZE)) + " spilled, all delivered after restart: " +
               (downSpilled.nLost == 0 ? "yes" : "no") + ")");
    EXPECT_EQ(upDelivered.nLost, 0);
    EXPECT_EQ(downSpilled.nLost, 0);
    EXPECT_EQ(cbSpilled, LONGLONG(30 * EVENT_RECORD_SIZE));
    EXPECT_EQ(up.nLost, 15);
    EXPECT_EQ(down.nLost, 12);
}

TEST_F(FaultInjection, ServerDiskFull)
{
    if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR)
        GTEST_SKIP() << "no small drive Q: (tools/faults.sh maps one)";
    const std::string strFolder = "Q:\\qflogs";
    const std::string strFiller = "Q:\\filler.bin";
    CreateDirectoryA(strFolder.c_str(), nullptr);
    DeleteFileA((strFolder + "\\Process.log").c_str());
    UseServerFolder(strFolder);
    ASSERT_TRUE(StartServer());

    // Leave about 4 KiB: some fifty lines fit.
    ULARGE_INTEGER free = {};
    ASSERT_TRUE(GetDiskFreeSpaceExA("Q:\\", &free, nullptr, nullptr));
    {
        CFileHandle filler(CreateFileA(strFiller.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(filler.IsValid());
        std::vector<char> chunk(65536, 'f');
        ULONGLONG cbLeft = free.QuadPart > 4096 ? free.QuadPart - 4096 : 0;
        while (cbLeft > 0)
        {
            DWORD cbWrite = static_cast<DWORD>(std::min<ULONGLONG>(cbLeft, chunk.size()));
            DWORD cbWritten = 0;
            if (!WriteFile(filler.Get(), chunk.data(), cbWrite, &cbWritten, nullptr) || cbWritten == 0)
                break;
            cbLeft -= cbWritten;
        }
    }

    g_dwPlatformId = 2;
    const DWORD nRecords = 120;
    std::vector<EventRecord> records;
    for (DWORD n = 0; n < nRecords; ++n)
        records.push_back(MakeLoadRecord("k5", n));
    std::vector<bool> acknowledged(nRecords, false);
    CWireClient client;
    int nFailedWhileFull = 0;
    for (DWORD n = 0; n < nRecords; ++n)
    {
        if (!client.IsConnected() && !client.Connect(3000))
            break;
        acknowledged[n] = client.SendRecord(records[n]);
        nFailedWhileFull += !acknowledged[n];
    }
    int nAckedWhileFull = 0, nAckedMissing = 0;
    std::map<DWORD, int> logWhileFull = CountRecords(strFolder + "\\Process.log", "k5");
    for (DWORD n = 0; n < nRecords; ++n)
        if (acknowledged[n])
        {
            ++nAckedWhileFull;
            nAckedMissing += logWhileFull.count(n) == 0;
        }

    // Space again: the records without acknowledgement are sent again.
    DeleteFileA(strFiller.c_str());
    for (DWORD n = 0; n < nRecords; ++n)
        for (int nTry = 0; nTry < 5 && !acknowledged[n]; ++nTry)
        {
            if (client.IsConnected() || client.Connect(3000))
                acknowledged[n] = client.SendRecord(records[n]);
            if (!acknowledged[n])
                Sleep(200);
        }

    // A line is whole when it is exactly the record's rendering.
    std::map<std::string, DWORD> expected;
    for (DWORD n = 0; n < nRecords; ++n)
    {
        char szLine[EVENT_LINE_SIZE];
        FormatEventLine(&records[n], szLine);
        expected[std::string(szLine, strlen(szLine) - 2)] = n;
    }
    std::map<DWORD, int> whole;
    int nBroken = 0;
    for (const std::string& strLine : ReadLines(strFolder + "\\Process.log"))
    {
        auto it = expected.find(strLine);
        if (it != expected.end())
            ++whole[it->second];
        else if (strLine.find("\\Load\\k5\\") != std::string::npos || strLine.find("Server st") == std::string::npos)
            ++nBroken;
    }
    Tally tally;
    tally.nSent = static_cast<int>(nRecords);
    for (DWORD n = 0; n < nRecords; ++n)
    {
        tally.nAcknowledged += acknowledged[n];
        if (whole.count(n))
        {
            ++tally.nLogged;
            tally.nDuplicated += whole[n] - 1;
        }
    }
    tally.nLost = tally.nSent - tally.nLogged;
    Report("server disk full", tally,
           std::to_string(nAckedWhileFull) + " acknowledged while the disk filled, " + std::to_string(nAckedMissing) +
               " of them without their line; " + std::to_string(nFailedWhileFull) +
               " refused while full; lines that are not one whole record: " + std::to_string(nBroken));
    EXPECT_GT(nFailedWhileFull, 0) << "the disk never filled";
    EXPECT_EQ(nAckedMissing, 0);
    EXPECT_EQ(tally.nLost, 0);
    EXPECT_EQ(nBroken, 0);
    StopServiceAndWait(SERVER);
    DeleteFileA((strFolder + "\\Process.log").c_str());
    RemoveDirectoryA(strFolder.c_str());
}

TEST_F(FaultInjection, HostileInput)
{
    CTestFolder serverFolder;
    UseServerFolder(serverFolder.Path());
    ASSERT_TRUE(StartServer());
    CHandle server(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ServiceProcessId(SERVER)));
    SIZE_T cbBefore = PrivateBytes(server.Get());
    std::mt19937 random(6);
    Tally tally;
    auto Logged = [&](DWORD n) { return CountRecords(m_strLog, "k6").count(n) > 0; };

    // Random bytes of random lengths, each connection closed after sending.
    for (int i = 0; i < 30; ++i)
    {
        CWireClient client;
        ASSERT_TRUE(client.Connect());
        std::vector<char> bytes(1 + random() % 3000);
        for (char& c : bytes)
            c = static_cast<char>(random());
        client.SendBytes(bytes.data(), static_cast<int>(bytes.size()));
    }
    // A short write, then close.
    {
        CWireClient client;
        ASSERT_TRUE(client.Connect());
        char shortWrite[100] = {};
        client.SendBytes(shortWrite, sizeof(shortWrite));
    }
    // Two records and a piece in one write: two acknowledgements, two lines.
    {
        CWireClient client;
        ASSERT_TRUE(client.Connect());
        std::vector<char> oversized(2 * EVENT_RECORD_SIZE + 100, 'z');
        EventRecord first = MakeLoadRecord("k6", 0), second = MakeLoadRecord("k6", 1);
        memcpy(oversized.data(), &first, EVENT_RECORD_SIZE);
        memcpy(oversized.data() + EVENT_RECORD_SIZE, &second, EVENT_RECORD_SIZE);
        client.SendBytes(oversized.data(), static_cast<int>(oversized.size()));
        char replies[16] = {};
        int cbReplies = client.ReceiveBytes(replies, sizeof(replies));
        tally.nSent += 2;
        tally.nAcknowledged += cbReplies == 16 && memcmp(replies, "written\0written", 16) == 0 ? 2 : 0;
        tally.nLogged += Logged(0) + Logged(1);
    }
    // Half-open connections and idle ones hold all 19 entries.
    std::vector<std::unique_ptr<CWireClient>> held;
    for (int i = 0; i < 19; ++i)
    {
        held.push_back(std::make_unique<CWireClient>());
        ASSERT_TRUE(held.back()->Connect());
        if (i < 5)
        {
            char half[300] = {};
            held.back()->SendBytes(half, sizeof(half));
        }
    }
    Sleep(500);
    bool bTwentiethServed;
    {
        CWireClient twentieth;
        ASSERT_TRUE(twentieth.Connect(2000));
        bTwentiethServed = twentieth.SendRecord(MakeLoadRecord("k6wait", 0));
    }
    held.pop_back();
    {
        CWireClient next;
        ASSERT_TRUE(next.Connect(10000));
        ++tally.nSent;
        tally.nAcknowledged += next.SendRecord(MakeLoadRecord("k6", 2));
        tally.nLogged += Logged(2);
    }
    held.clear();

    // A storm of connects and closes, bounded in count and time.
    int nStorm = 0, nRefused = 0;
    double t0 = NowSeconds();
    for (; nStorm < 10000 && NowSeconds() - t0 < 120; ++nStorm)
    {
        CWireClient client;
        nRefused += !client.Connect(2000);
    }
    double dStormSeconds = NowSeconds() - t0;
    Sleep(1000);
    SIZE_T cbAfter = PrivateBytes(server.Get());
    bool bRunning = ServiceState(SERVER) == SERVICE_RUNNING;
    {
        CWireClient last;
        ASSERT_TRUE(last.Connect(5000));
        ++tally.nSent;
        tally.nAcknowledged += last.SendRecord(MakeLoadRecord("k6", 3));
        tally.nLogged += Logged(3);
    }
    tally.nLost = tally.nSent - tally.nLogged;
    for (const auto& count : CountRecords(m_strLog, "k6"))
        tally.nDuplicated += count.second - 1;
    double dGrowthKiB = (static_cast<double>(cbAfter) - static_cast<double>(cbBefore)) / 1024;
    Report("hostile input", tally,
           "server running: " + std::string(bRunning ? "yes" : "no") + "; 20th connection served while 19 held: " +
               (bTwentiethServed ? "yes" : "no") + "; storm " + std::to_string(nStorm) + " connects in " +
               Num(dStormSeconds, 1) + " s, " + std::to_string(nRefused) + " refused; private bytes " +
               Num(cbBefore / 1024.0, 0) + " -> " + Num(cbAfter / 1024.0, 0) + " KiB");
    EXPECT_TRUE(bRunning);
    EXPECT_FALSE(bTwentiethServed) << "a 20th connection must wait while 19 are held";
    EXPECT_EQ(tally.nAcknowledged, tally.nSent);
    EXPECT_EQ(tally.nLost, 0);
    EXPECT_LE(dGrowthKiB, 1024) << "the server's memory grew with the hostile input";
}
}  // namespace
