#include "Server/ConnectionServer.h"

#include "Common/Service/ExitWithError.h"
#include "Common/Text.h"
#include "Server/ServerService.h"
#include "Server/ServerSettings.h"

#include <mswsock.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace
{
constexpr int ACCEPT_ENTRY = 0;
constexpr int STOP_SERVER = -1;
constexpr DWORD ADDRESS_LENGTH = sizeof(sockaddr_in) + 16;  // what AcceptEx asks for

// Receives the two addresses of every accept; never read. Static, because an
// accept still pending when the server stops may write into it until the
// process ends.
BYTE g_AcceptBuffer[256];

// Sent after each record; static for as long as any write of it may be pending.
const char g_szAcknowledgement[8] = "written";

void PrintError(const char* pszText)
{
    std::fprintf(stderr, "%s\n", pszText);
    std::fflush(stderr);
}

// The client is gone or reset its side: the connection ends, the server goes on.
bool IsConnectionLost(DWORD dwError)
{
    switch (dwError)
    {
    case ERROR_NETNAME_DELETED:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_CONNECTION_INVALID:
    case ERROR_GRACEFUL_DISCONNECT:
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
        return true;
    default:
        return false;
    }
}
}  // namespace

CConnectionServer::CConnectionServer() : m_nActiveSlots(1)
{
    for (HANDLE& h : m_WaitHandles)
        h = INVALID_HANDLE_VALUE;
}

CConnectionServer::~CConnectionServer() = default;

void CConnectionServer::Run()
{
    if (!Start())
        return;

    bool bAcceptPending = false;
    for (;;)
    {
        // While 19 connections are open no accept is posted: the next
        // clients wait in the listen backlog until one closes.
        if (!bAcceptPending && m_nActiveSlots < MAX_SLOTS)
        {
            PostAccept();
            bAcceptPending = true;
        }
        int i = WaitForCompletion(!bAcceptPending);
        if (i == STOP_SERVER)
            break;
        HandleCompletion(i);
        if (i == ACCEPT_ENTRY)
            bAcceptPending = false;
    }
    Stop();
}

bool CConnectionServer::Start()
{
    char* pszFolder = g_ServerSettings.LogFileFolder;
    if (pszFolder[0] == '\0')
    {
        char szModule[MAX_PATH] = "";
        DWORD cch = GetModuleFileNameA(nullptr, szModule, MAX_PATH);
        char* pszSlash = (cch > 0 && cch < MAX_PATH) ? std::strrchr(szModule, '\\') : nullptr;
        if (pszSlash)
        {
            *pszSlash = '\0';
            CopyText(g_ServerSettings.LogFileFolder, szModule);
        }
        else
            CopyText(g_ServerSettings.LogFileFolder, ".");
    }

    OutputFolder = pszFolder;
    m_Log.m_dwLimit = g_ServerSettings.Limit;
    m_Log.SetPaths("Process.log", "\\Process.old.log");
    if (m_Log.m_hFile == INVALID_HANDLE_VALUE)
    {
        if (m_Log.m_szLogPath[0] == '\0')
            SetLastError(ERROR_FILENAME_EXCED_RANGE);  // a folder too long for its log paths
        ExitWithError("Log File Open");
    }

    WSADATA wsaData;
    int nError = WSAStartup(MAKEWORD(2, 2), &wsaData);
    if (nError != 0)
    {
        SetLastError(static_cast<DWORD>(nError));
        ExitWithError("WSAStartup failed with error");
    }

    m_Listener.Reset(socket(AF_INET, SOCK_STREAM, 0));
    if (!m_Listener)
        ExitWithError("socket() failed");
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(SERVER_PORT);
    if (bind(m_Listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
        ExitWithError("bind() failed");
    if (listen(m_Listener.Get(), SOMAXCONN) == SOCKET_ERROR)
    {
        PrintError("listen() failed");
        m_Listener.Close();
        WSACleanup();
        return false;
    }

    m_nActiveSlots = 1;
    if (!g_hStopEvent)
    {
        g_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!g_hStopEvent)
            ExitWithError("CreateEvent (Stop)");
    }

    WriteServerLine("Server started", EVENT_SERVER_STARTED);
    return true;
}

void CConnectionServer::PostAccept()
{
    // The server idles between records: give its pages back meanwhile.
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));

    for (;;)
    {
        std::unique_ptr<CConnection> pConnection(new (std::nothrow) CConnection);
        if (!pConnection)
        {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            ExitWithError("Connection block allocation failed");
        }
        // An invalid socket shows up as a failed AcceptEx.
        pConnection->m_Socket.Reset(socket(AF_INET, SOCK_STREAM, 0));
        pConnection->m_hEvent.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!pConnection->m_hEvent)
            ExitWithError("CreateEvent failed");
        pConnection->m_Overlapped.hEvent = pConnection->m_hEvent.Get();

        CConnection* p = pConnection.get();
        m_WaitHandles[ACCEPT_ENTRY] = p->m_hEvent.Get();
        m_Slots[ACCEPT_ENTRY] = std::move(pConnection);

        DWORD cbReceived = 0;
        if (AcceptEx(m_Listener.Get(), p->m_Socket.Get(), g_AcceptBuffer, 0, ADDRESS_LENGTH, ADDRESS_LENGTH,
                     &cbReceived, &p->m_Overlapped))
            return;  // accepted at once; the event is set all the same
        DWORD dwError = WSAGetLastError();
        if (dwError == WSA_IO_PENDING)
            return;
        // A client that reset its connection while it waited in the backlog:
        // drop it and take the next one.
        m_Slots[ACCEPT_ENTRY].reset();
        m_WaitHandles[ACCEPT_ENTRY] = INVALID_HANDLE_VALUE;
        if (!IsConnectionLost(dwError))
        {
            SetLastError(dwError);
            ExitWithError("AcceptEx failed");
        }
    }
}

int CConnectionServer::WaitForCompletion(bool bNoAcceptPending)
{
    m_WaitHandles[m_nActiveSlots] = g_hStopEvent;
    // Once its accept has completed, entry 0's event belongs to the new
    // connection, which has it in its own entry too: leave entry 0 out.
    int nFirst = bNoAcceptPending ? 1 : 0;
    DWORD nCount = static_cast<DWORD>(m_nActiveSlots - nFirst + 1);
    DWORD dwWait = WaitForMultipleObjects(nCount, &m_WaitHandles[nFirst], FALSE, INFINITE);
    if (dwWait == WAIT_FAILED || dwWait >= WAIT_OBJECT_0 + nCount)
    {
        PrintError("Wait failed Error");
        return STOP_SERVER;
    }
    int i = static_cast<int>(dwWait - WAIT_OBJECT_0) + nFirst;
    return i == m_nActiveSlots ? STOP_SERVER : i;
}

void CConnectionServer::HandleCompletion(int i)
{
    CConnection* p = m_Slots[i].get();
    HANDLE hFile = i == ACCEPT_ENTRY ? reinterpret_cast<HANDLE>(m_Listener.Get()) : p->File();
    DWORD cbTransferred = 0;
    if (!GetOverlappedResult(hFile, &p->m_Overlapped, &cbTransferred, TRUE))
    {
        DWORD dwError = GetLastError();
        std::fprintf(stderr, "GetOverlappedResult failed with error %lu\n", dwError);
        std::fflush(stderr);
        // Whatever the error, the connection ends here: its event stays set
        // and would otherwise be reported by every later wait.
        if (i == ACCEPT_ENTRY)
        {
            m_Slots[ACCEPT_ENTRY].reset();
            m_WaitHandles[ACCEPT_ENTRY] = INVALID_HANDLE_VALUE;
        }
        else
            CloseConnection(i);
        return;
    }

    if (i == ACCEPT_ENTRY)
    {
        AcceptCompleted();
        return;
    }
    switch (p->m_dwOperation)
    {
    case IO_READ:
        ReadCompleted(i, cbTransferred);
        break;
    case IO_WRITE:
        // The acknowledgement is out: wait for the next record.
        PostRead(i);
        break;
    default:
        PrintError("Unknown operation queued");
        CloseConnection(i);
        break;
    }
}

void CConnectionServer::AcceptCompleted()
{
    int n = m_nActiveSlots;
    CConnection* p = m_Slots[ACCEPT_ENTRY].get();
    m_Slots[n] = std::move(m_Slots[ACCEPT_ENTRY]);
    m_WaitHandles[n] = p->m_hEvent.Get();
    m_WaitHandles[ACCEPT_ENTRY] = INVALID_HANDLE_VALUE;

    p->m_dwOperation = IO_READ;
    p->m_cbReceived = 0;
    ResetEvent(p->m_hEvent.Get());
    if (ReadFile(p->File(), &p->m_Record, EVENT_RECORD_SIZE, nullptr, &p->m_Overlapped))
    {
        m_nActiveSlots = n + 1;
        return;
    }
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING)
    {
        m_nActiveSlots = n + 1;
        return;
    }
    if (!IsConnectionLost(dwError))
        PrintError("Initial ReadFile failed");
    m_Slots[n].reset();
    m_WaitHandles[n] = INVALID_HANDLE_VALUE;
}

void CConnectionServer::ReadCompleted(int i, DWORD cbRead)
{
    CConnection* p = m_Slots[i].get();
    if (cbRead == 0)
    {
        // The client closed; a record it had only begun is dropped unacknowledged.
        CloseConnection(i);
        return;
    }
    p->m_cbReceived += cbRead;
    if (p->m_cbReceived < EVENT_RECORD_SIZE)
        PostRead(i);
    else
        RecordReceived(i);
}

void CConnectionServer::RecordReceived(int i)
{
    CConnection* p = m_Slots[i].get();
    p->m_cbReceived = 0;
    // Acknowledged only once the line is on disk; otherwise the client keeps
    // the record and sends it again later.
    if (!m_Log.WriteRecord(&p->m_Record) || !FlushFileBuffers(m_Log.m_hFile))
    {
        CloseConnection(i);
        return;
    }
    PostAcknowledgement(i);
}

void CConnectionServer::PostRead(int i)
{
    CConnection* p = m_Slots[i].get();
    p->m_dwOperation = IO_READ;
    ResetEvent(p->m_hEvent.Get());
    BYTE* pDest = reinterpret_cast<BYTE*>(&p->m_Record) + p->m_cbReceived;
    CheckPosted(i, ReadFile(p->File(), pDest, EVENT_RECORD_SIZE - p->m_cbReceived, nullptr, &p->m_Overlapped),
                "ReadFile failed");
}

void CConnectionServer::PostAcknowledgement(int i)
{
    CConnection* p = m_Slots[i].get();
    p->m_dwOperation = IO_WRITE;
    ResetEvent(p->m_hEvent.Get());
    CheckPosted(i, WriteFile(p->File(), g_szAcknowledgement, sizeof(g_szAcknowledgement), nullptr, &p->m_Overlapped),
                "WriteFile failed");
}

void CConnectionServer::CheckPosted(int i, BOOL bDone, const char* pszFatalReason)
{
    // Done at once or pending: the event reports the completion either way.
    if (bDone)
        return;
    DWORD dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING)
        return;
    if (!IsConnectionLost(dwError))
    {
        SetLastError(dwError);
        ExitWithError(pszFatalReason);
    }
    CloseConnection(i);
}

void CConnectionServer::CloseConnection(int i)
{
    int nLast = m_nActiveSlots - 1;
    m_Slots[i].reset();  // closes the socket and the event
    if (i != nLast)
    {
        // The moved connection's block keeps its address, so its pending
        // operation is not disturbed.
        m_Slots[i] = std::move(m_Slots[nLast]);
        m_WaitHandles[i] = m_WaitHandles[nLast];
    }
    m_WaitHandles[nLast] = INVALID_HANDLE_VALUE;
    m_nActiveSlots = nLast;
}

void CConnectionServer::Stop()
{
    // Closes every socket still open, the listener and the pending accept included.
    WSACleanup();
    // Their operations may still be finishing: the blocks and the listener's
    // number are given up, not freed or closed again; the process ends soon.
    m_Listener.Detach();
    for (std::unique_ptr<CConnection>& pConnection : m_Slots)
    {
        if (pConnection)
        {
            pConnection->m_Socket.Detach();
            pConnection.release();
        }
    }
    WriteServerLine("Server stopped", EVENT_SERVER_STOPPED);
    m_Log.Close();
}

void CConnectionServer::WriteServerLine(const char* pszEvent, int32_t nType)
{
    EventRecord record;
    BuildEventRecord(&record, pszEvent, nType, nullptr);
    // The log's own write path, for its retry and its care never to leave a
    // piece of a line behind, but without the size test: only received
    // records rotate the log.
    DWORD dwLimit = m_Log.m_dwLimit;
    m_Log.m_dwLimit = NO_LIMIT;
    m_Log.WriteRecord(&record);
    m_Log.m_dwLimit = dwLimit;
}
