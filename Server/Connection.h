// One client connection of the connection server.
#pragma once

#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"

// Operation in flight on a connection.
constexpr DWORD IO_ACCEPT = 0;     // the accept is pending
constexpr DWORD IO_READ   = 0x10;  // a read of the current record is pending
constexpr DWORD IO_WRITE  = 0x20;  // the acknowledgement is being sent

// Everything a connection owns, in one block that stays at one address from
// its accept to its close: a read posted into m_Record stays valid while the
// server's arrays move the connection's pointer around. (A socket does not
// fit the OVERLAPPED's own 32-bit fields on 64-bit Windows.)
struct CConnection
{
    CConnection() : m_Overlapped{}, m_dwOperation(IO_ACCEPT), m_cbReceived(0), m_Record{} {}

    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    // The socket as the file handle that ReadFile and WriteFile take.
    HANDLE File() const { return reinterpret_cast<HANDLE>(m_Socket.Get()); }

    OVERLAPPED  m_Overlapped;   // hEvent is m_hEvent, for the accept and every read and write
    CSocket     m_Socket;
    CHandle     m_hEvent;       // manual reset
    DWORD       m_dwOperation;  // IO_ACCEPT, IO_READ or IO_WRITE
    DWORD       m_cbReceived;   // bytes of m_Record received so far
    EventRecord m_Record;       // the record being received, however TCP splits it
};
