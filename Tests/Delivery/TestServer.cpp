#include "Tests/Delivery/TestServer.h"

#include "Client/WinNT/Logger.h"

#include <chrono>
#include <cstring>

double NowMs()
{
    LARGE_INTEGER liNow, liFrequency;
    QueryPerformanceCounter(&liNow);
    QueryPerformanceFrequency(&liFrequency);
    return static_cast<double>(liNow.QuadPart) * 1000.0 / static_cast<double>(liFrequency.QuadPart);
}

CTestServer::CTestServer(const char* pszAddress)
{
    WSADATA wsaData;
    WSAStartup(MAKEWORD(2, 2), &wsaData);
    CSocket listen(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listen)
        return;
    // Connections closed by earlier tests may still hold the port.
    BOOL bReuse = TRUE;
    setsockopt(listen.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&bReuse), sizeof(bReuse));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr(pszAddress);
    addr.sin_port = htons(DELIVERY_PORT);
    if (bind(listen.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listen.Get(), SOMAXCONN) != 0)
        return;
    m_Listen = std::move(listen);
    m_Thread = std::thread([this] { Serve(); });
}

CTestServer::~CTestServer()
{
    m_bStop = true;
    if (m_Thread.joinable())
        m_Thread.join();
    m_Listen.Close();
    WSACleanup();
}

void CTestServer::Script(const std::vector<ReplyStep>& steps)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Script.assign(steps.begin(), steps.end());
}

void CTestServer::CloseOnAccept(bool bClose)
{
    m_bCloseOnAccept = bClose;
}

template <typename Predicate>
bool CTestServer::WaitFor(DWORD dwTimeoutMs, Predicate predicate)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), predicate);
}

bool CTestServer::WaitForConnections(int nCount, DWORD dwTimeoutMs)
{
    return WaitFor(dwTimeoutMs, [&] { return m_nConnections >= nCount; });
}

bool CTestServer::WaitForRecords(size_t nCount, DWORD dwTimeoutMs)
{
    return WaitFor(dwTimeoutMs, [&] { return m_Records.size() >= nCount; });
}

bool CTestServer::WaitForClosed(int nConnection, DWORD dwTimeoutMs)
{
    return WaitFor(dwTimeoutMs, [&] { return m_nClosed >= nConnection; });
}

std::vector<ReceivedRecord> CTestServer::Records() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Records;
}

int CTestServer::Connections() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nConnections;
}

int CTestServer::ClosedConnections() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nClosed;
}

// Short select waits, so that the destructor's stop is seen promptly.
bool CTestServer::WaitReadable(SOCKET s)
{
    while (!m_bStop)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv = { 0, 20000 };
        int n = select(0, &readable, nullptr, nullptr, &tv);
        if (n > 0)
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

void CTestServer::Serve()
{
    while (WaitReadable(m_Listen.Get()))
    {
        CSocket connection(accept(m_Listen.Get(), nullptr, nullptr));
        if (!connection)
            continue;
        int nConnection;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            nConnection = ++m_nConnections;
        }
        m_Changed.notify_all();
        if (!m_bCloseOnAccept)
            ServeConnection(connection.Get(), nConnection);
        connection.Close();
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            ++m_nClosed;
        }
        m_Changed.notify_all();
    }
}

void CTestServer::ServeConnection(SOCKET s, int nConnection)
{
    for (;;)
    {
        ReceivedRecord received = {};
        received.nConnection = nConnection;
        char* pBytes = reinterpret_cast<char*>(&received.record);
        size_t cbHave = 0;
        while (cbHave < sizeof(received.record))
        {
            if (!WaitReadable(s))
                return;
            int n = recv(s, pBytes + cbHave, static_cast<int>(sizeof(received.record) - cbHave), 0);
            if (n <= 0)
                return;  // closed by the client
            cbHave += static_cast<size_t>(n);
        }
        received.dReceivedMs = NowMs();

        ReplyStep step = { Reply::Written, 0 };
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (!m_Script.empty())
            {
                step = m_Script.front();
                m_Script.pop_front();
            }
        }
        if (step.dwDelayMs != 0)
            Sleep(step.dwDelayMs);
        u_long cbWaiting = 0;
        ioctlsocket(s, FIONREAD, &cbWaiting);
        received.cbEarlyBytes = cbWaiting;

        static const char acWritten[8] = { 'w', 'r', 'i', 't', 't', 'e', 'n', '\0' };
        static const char acWrong[8] = { 'W', 'r', 'i', 't', 't', 'e', 'n', '\0' };
        received.dRepliedMs = NowMs();
        switch (step.reply)
        {
        case Reply::Written:
            send(s, acWritten, sizeof(acWritten), 0);
            break;
        case Reply::SevenBytes:
            send(s, acWritten, 7, 0);
            break;
        case Reply::WrongBytes:
            send(s, acWrong, sizeof(acWrong), 0);
            break;
        case Reply::Close:
            break;
        }
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Records.push_back(received);
        }
        m_Changed.notify_all();
        if (step.reply == Reply::Close)
            return;
    }
}
