// A client of the tests' own for the collecting server: one blocking TCP
// connection to port 6401 on loopback.
#pragma once

#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"

#include <string>

enum class Reply
{
    Acknowledged,  // exactly "written" and its zero byte
    Nothing,       // nothing arrived in time
    Closed,        // the server closed or reset the connection
    Other,         // bytes other than the acknowledgement
};

class CTestClient
{
public:
    CTestClient() = default;

    // Connects to 127.0.0.1:6401; false when refused or timed out.
    bool Connect();
    // Sends the bytes, each call as one TCP segment where the stack allows.
    bool Send(const void* pData, size_t cbData);
    bool Send(const EventRecord& record) { return Send(&record, sizeof(record)); }
    // Waits up to dwTimeoutMs for the 8-byte reply.
    Reply Receive(DWORD dwTimeoutMs);
    // Sends the record and waits for its acknowledgement.
    bool Deliver(const EventRecord& record, DWORD dwTimeoutMs = 10000);
    // Closes with a reset instead of an orderly shutdown.
    void Abort();
    void Close() { m_Socket.Close(); }
    bool IsOpen() const { return m_Socket.IsValid(); }

private:
    CSocket m_Socket;
};

// A "Tracked" record of this test process, told apart by n (program path and id).
EventRecord MakeRecord(unsigned n);
// The line the server writes for the record, CR LF included.
std::string ExpectedLine(const EventRecord& record);
