#include "Tests/Server/TestClient.h"

#include "Common/Records/EventLine.h"
#include "Common/Text.h"

#include <string>

namespace
{
// Windows Sockets for the whole test process.
struct CWinsock
{
    CWinsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWinsock() { WSACleanup(); }
} g_Winsock;
}  // namespace

bool CTestClient::Connect()
{
    m_Socket.Reset(socket(AF_INET, SOCK_STREAM, 0));
    if (!m_Socket)
        return false;
    // Each Send is its own segment, so split records really arrive split.
    BOOL bNoDelay = TRUE;
    setsockopt(m_Socket.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bNoDelay), sizeof(bNoDelay));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(6401);
    if (connect(m_Socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR)
    {
        m_Socket.Close();
        return false;
    }
    return true;
}

bool CTestClient::Send(const void* pData, size_t cbData)
{
    const char* p = static_cast<const char*>(pData);
    while (cbData > 0)
    {
        int cbSent = send(m_Socket.Get(), p, static_cast<int>(cbData), 0);
        if (cbSent <= 0)
            return false;
        p += cbSent;
        cbData -= static_cast<size_t>(cbSent);
    }
    return true;
}

Reply CTestClient::Receive(DWORD dwTimeoutMs)
{
    char reply[8] = {};
    size_t cbReply = 0;
    DWORD dwStart = GetTickCount();
    while (cbReply < sizeof(reply))
    {
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed >= dwTimeoutMs)
            return cbReply == 0 ? Reply::Nothing : Reply::Other;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_Socket.Get(), &readable);
        DWORD dwLeft = dwTimeoutMs - dwElapsed;
        timeval tv = { static_cast<long>(dwLeft / 1000), static_cast<long>(dwLeft % 1000) * 1000 };
        int nReady = select(0, &readable, nullptr, nullptr, &tv);
        if (nReady < 0)
            return Reply::Closed;
        if (nReady == 0)
            continue;
        int cb = recv(m_Socket.Get(), reply + cbReply, static_cast<int>(sizeof(reply) - cbReply), 0);
        if (cb <= 0)
            return cbReply == 0 ? Reply::Closed : Reply::Other;
        cbReply += static_cast<size_t>(cb);
    }
    return std::string(reply, sizeof(reply)) == std::string("written", 8) ? Reply::Acknowledged : Reply::Other;
}

bool CTestClient::Deliver(const EventRecord& record, DWORD dwTimeoutMs)
{
    return Send(record) && Receive(dwTimeoutMs) == Reply::Acknowledged;
}

void CTestClient::Abort()
{
    linger lingerOption = { 1, 0 };
    setsockopt(m_Socket.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lingerOption),
               sizeof(lingerOption));
    m_Socket.Close();
}

EventRecord MakeRecord(unsigned n)
{
    EventRecord record;
    BuildEventRecord(&record, "Tracked", EVENT_TRACKED, "tester");
    std::string strProgram = "C:\\Apps\\Program" + std::to_string(n) + ".exe";
    CopyText(record.szProgram, strProgram.c_str());
    record.dwProcessId = 1000 + n;
    return record;
}

std::string ExpectedLine(const EventRecord& record)
{
    char szLine[EVENT_LINE_SIZE] = {};
    FormatEventLine(&record, szLine);
    return szLine;
}
