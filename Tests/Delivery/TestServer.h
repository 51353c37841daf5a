// A collecting server of the tests' own on a loopback address (127.0.0.1
// unless told otherwise), delivery port: it
// takes one connection at a time, reads 784-byte records and answers each
// as scripted (the acknowledgement by default).
#pragma once

#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

enum class Reply
{
    Written,     // "written" and a zero byte
    SevenBytes,  // "written" without its zero byte
    WrongBytes,  // eight bytes, not the acknowledgement
    Close,       // no reply: the connection is closed
};

struct ReplyStep
{
    Reply reply;
    DWORD dwDelayMs;  // before the reply
};

struct ReceivedRecord
{
    int         nConnection;     // 1 for the first accepted connection
    EventRecord record;
    double      dReceivedMs;     // when its last byte arrived
    double      dRepliedMs;      // when the reply went out
    ULONG       cbEarlyBytes;    // bytes already waiting when the reply was due
};

class CTestServer
{
public:
    explicit CTestServer(const char* pszAddress = "127.0.0.1");
    ~CTestServer();

    CTestServer(const CTestServer&) = delete;
    CTestServer& operator=(const CTestServer&) = delete;

    bool IsListening() const { return m_Listen.IsValid(); }
    // Replies for the next records, in order; then the acknowledgement.
    void Script(const std::vector<ReplyStep>& steps);
    // Every connection is closed as soon as it is accepted, without reading.
    void CloseOnAccept(bool bClose);

    bool WaitForConnections(int nCount, DWORD dwTimeoutMs);
    bool WaitForRecords(size_t nCount, DWORD dwTimeoutMs);
    // True once the client has closed connection nConnection.
    bool WaitForClosed(int nConnection, DWORD dwTimeoutMs);

    std::vector<ReceivedRecord> Records() const;
    int Connections() const;
    int ClosedConnections() const;

private:
    void Serve();
    void ServeConnection(SOCKET s, int nConnection);
    bool WaitReadable(SOCKET s);
    template <typename Predicate>
    bool WaitFor(DWORD dwTimeoutMs, Predicate predicate);

    CSocket                     m_Listen;
    std::atomic<bool>           m_bStop{false};
    std::atomic<bool>           m_bCloseOnAccept{false};
    mutable std::mutex          m_Mutex;
    std::condition_variable     m_Changed;
    std::deque<ReplyStep>       m_Script;
    std::vector<ReceivedRecord> m_Records;
    int                         m_nConnections = 0;
    int                         m_nClosed = 0;
    std::thread                 m_Thread;
};

// Milliseconds on the performance counter.
double NowMs();
