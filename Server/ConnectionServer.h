// The connection server: receives EventRecords from up to 19 clients at a
// time over TCP port 6401, writes each as one line of the central
// Process.log, flushed, and acknowledges it. One thread, overlapped I/O,
// one wait over every pending operation and the stop event.
#pragma once

#include "Common/Records/LogFile.h"
#include "Server/Connection.h"

#include <memory>

constexpr u_short SERVER_PORT = 6401;
// The pending accept's entry and 19 connections.
constexpr int MAX_SLOTS = 20;

class CConnectionServer
{
public:
    CConnectionServer();
    ~CConnectionServer();

    CConnectionServer(const CConnectionServer&) = delete;
    CConnectionServer& operator=(const CConnectionServer&) = delete;

    // Opens the log, listens, serves until g_hStopEvent is set, writes the
    // stop line. Fatal failures end the process.
    void Run();

private:
    // Log, sockets, stop event and start line; false when listening failed.
    bool Start();
    // Trims the working set and posts an accept into entry 0.
    void PostAccept();
    // Index of the entry whose operation completed, or -1 to stop.
    int WaitForCompletion(bool bNoAcceptPending);
    // Advances the connection of entry i by its completed operation.
    void HandleCompletion(int i);
    void AcceptCompleted();
    void ReadCompleted(int i, DWORD cbRead);
    void RecordReceived(int i);
    // Posts the read of the rest of the current record.
    void PostRead(int i);
    // Posts "written" and its terminator.
    void PostAcknowledgement(int i);
    // A posted read or write that failed closes the connection when the
    // client is gone and ends the process otherwise.
    void CheckPosted(int i, BOOL bDone, const char* pszFatalReason);
    // Closes the connection of entry i and moves the last one into its place.
    void CloseConnection(int i);
    void Stop();
    // Writes one of the server's own lines: no size test, no flush.
    void WriteServerLine(const char* pszEvent, int32_t nType);

    CLogFile                     m_Log;
    CSocket                      m_Listener;
    int                          m_nActiveSlots;               // entries in use, entry 0 included
    HANDLE                       m_WaitHandles[MAX_SLOTS + 1]; // events by entry; the stop event after the last
    std::unique_ptr<CConnection> m_Slots[MAX_SLOTS];           // entry 0: the pending accept
};
