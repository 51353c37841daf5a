#include "Client/WinNT/Logger.h"

#include "Client/WinNT/MatchPattern.h"
#include "Client/WinNT/TimeSpan.h"
#include "Common/Service/ExitWithError.h"
#include "Common/Text.h"

#include <cstring>
#include <utility>

HANDLE g_hSenderWakeup = nullptr;

namespace
{
// What the server answers for every record it has written.
constexpr char ACKNOWLEDGEMENT[8] = { 'w', 'r', 'i', 't', 't', 'e', 'n', '\0' };

constexpr DWORD SOCKET_TIMEOUT_MS = 2000;
// Paces the server: after each acknowledged record, before the next one.
constexpr DWORD PAUSE_AFTER_RECORD_MS = 300;
// With a pass about every two minutes, about fifty minutes without a server.
constexpr int FAILED_PASSES_PER_SPILL = 25;

// The spill is written here first and then moved over buffer.dat.
constexpr char SPILL_TEMP_SUFFIX[] = ".tmp";

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

LONGLONG FileTimeToCount(const FILETIME& ft)
{
    ULARGE_INTEGER uli;
    uli.LowPart = ft.dwLowDateTime;
    uli.HighPart = ft.dwHighDateTime;
    return static_cast<LONGLONG>(uli.QuadPart);
}
}  // namespace

CLogger::CLogger()
    : LocalLogging(false), ServerDelivery(false), m_nIgnorePrograms(0), m_nIgnoreStartFinish(0),
      m_Filters(10), m_szServer{}, m_szBufferPath{}, m_Queue(10), m_ulServerIp(0), m_ServerAddr{},
      m_pHostEnt(nullptr), m_bConnected(false), m_nFailedPasses(0), m_bBufferLoaded(false),
      m_dwSenderThreadId(0)
{
    WSADATA wsaData;
    int nResult = WSAStartup(MAKEWORD(2, 2), &wsaData);
    if (nResult != 0)
    {
        WSACleanup();
        // WSAStartup returns its error instead of setting the last error.
        SetLastError(static_cast<DWORD>(nResult));
        ExitWithError("WSAStartup failed");
    }
}

CLogger::~CLogger()
{
    // Without server delivery there is no sender, and StopDelivery does nothing.
    StopDelivery();
    if (ServerDelivery)
        SaveBuffer();
    WSACleanup();
}

void CLogger::SetPaths(const char* pszFileName, const char* pszOldSuffix, const char* pszBufferSuffix)
{
    if (ServerDelivery)
    {
        const char* pszFolder = OutputFolder ? OutputFolder : "";
        // A cut path would name another file: rather keep no spill file at all.
        if (!CopyText(m_szBufferPath, pszFolder) || !AppendText(m_szBufferPath, pszBufferSuffix))
            m_szBufferPath[0] = '\0';
    }
    // CLogFile::SetPaths builds the log paths and then opens through the
    // virtual Open, so either way the outputs are opened exactly once.
    if (LocalLogging)
        CLogFile::SetPaths(pszFileName, pszOldSuffix);
    else
        Open(false);
}

void CLogger::Open(bool bTruncate)
{
    if (ServerDelivery)
        StartDelivery();
    if (LocalLogging)
        CLogFile::Open(bTruncate);
}

void CLogger::Close()
{
    if (ServerDelivery)
        StopDelivery();
    if (LocalLogging)
        CLogFile::Close();
}

void CLogger::Enqueue(const EventRecord* pRecord)
{
    if (!pRecord)
        return;
    CAutoLock lock(m_QueueLock);
    m_Queue.Append(*pRecord);
}

void CLogger::LogStarted()
{
    if (m_nIgnoreStartFinish != 0)
        return;
    Emit("Logging started", EVENT_LOGGING_STARTED);
}

void CLogger::LogStopped()
{
    if (m_nIgnoreStartFinish != 0)
        return;
    Emit("Logging stopped", EVENT_LOGGING_STOPPED);
}

void CLogger::LogTracked(const char* pszProgram, DWORD dwProcessId, const char* pszUser)
{
    EventRecord record;
    if (BuildProgramRecord(record, "Tracked", EVENT_TRACKED, pszProgram, dwProcessId, pszUser))
        HandOn(record);
}

void CLogger::LogFinished(const char* pszProgram, DWORD dwProcessId, const SYSTEMTIME& stStart,
                          ULONGLONG ullCpuTime, BYTE bActivity, const char* pszUser)
{
    EventRecord record;
    if (!BuildProgramRecord(record, "Finished", EVENT_FINISHED, pszProgram, dwProcessId, pszUser))
        return;

    // Both times are local, so they are converted without a time-zone change.
    // A start time that could not be read (all zero) is rejected by the
    // conversion; the run time then stays empty rather than counting from 1601.
    SYSTEMTIME stNow;
    GetLocalTime(&stNow);
    FILETIME ftNow, ftStart;
    if (SystemTimeToFileTime(&stNow, &ftNow) && SystemTimeToFileTime(&stStart, &ftStart))
        FormatTimeSpan(record.szDuration, sizeof(record.szDuration),
                       FileTimeToCount(ftNow) - FileTimeToCount(ftStart));

    if (ullCpuTime != NO_CPU_TIME)
        FormatTimeSpan(record.szCpuTime, sizeof(record.szCpuTime), static_cast<LONGLONG>(ullCpuTime));
    record.bActivity = bActivity;
    HandOn(record);
}

void CLogger::LoadFilters(const char* pszPath)
{
    if (!pszPath || pszPath[0] == '\0')
        return;
    CFileHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hFile)
        return;
    DWORD cbFile = GetFileSize(hFile.Get(), nullptr);
    if (cbFile == INVALID_FILE_SIZE)
        return;
    // One byte more for the terminator; cbFile is below 0xFFFFFFFF here.
    CLocalMem hText(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(cbFile) + 1));
    if (!hText)
        return;
    char* pszText = static_cast<char*>(hText.Get());  // a fixed block's handle is its address
    DWORD cbRead = 0;
    if (!ReadFile(hFile.Get(), pszText, cbFile, &cbRead, nullptr) || cbRead == 0)
        return;
    pszText[cbRead] = '\0';  // a NUL inside the file ends the text there too

    char* p = pszText;
    while (*p != '\0')
    {
        if (IsLineEnd(*p))
        {
            ++p;
            continue;
        }
        char* pszLine = p;
        while (*p != '\0' && !IsLineEnd(*p))
            ++p;
        DWORD cchLine = static_cast<DWORD>(p - pszLine);
        CharUpperBuffA(pszLine, cchLine);
        char szPattern[MAX_PATH] = {};
        std::memcpy(szPattern, pszLine, cchLine < MAX_PATH - 1 ? cchLine : MAX_PATH - 1);
        m_Filters.Append(szPattern);
    }
}

bool CLogger::PassesFilters(const char* pszProgram) const
{
    if (m_Filters.GetCount() == 0)
        return true;
    // Patterns are upper-case, so an upper-case copy makes the test ignore case.
    char szUpper[MAX_PATH];
    CopyText(szUpper, pszProgram);
    CharUpperBuffA(szUpper, static_cast<DWORD>(std::strlen(szUpper)));
    for (UINT i = 0; i < m_Filters.GetCount(); ++i)
    {
        if (MatchPattern(*m_Filters.Get(i), szUpper))
            return true;
    }
    return false;
}

bool CLogger::BuildProgramRecord(EventRecord& record, const char* pszEvent, int32_t nType, const char* pszProgram,
                                 DWORD dwProcessId, const char* pszUser) const
{
    if (m_nIgnorePrograms != 0 || !PassesFilters(pszProgram))
        return false;
    BuildEventRecord(&record, pszEvent, nType, pszUser);
    CopyText(record.szProgram, pszProgram);
    record.dwProcessId = dwProcessId;
    return true;
}

void CLogger::Emit(const char* pszEvent, int32_t nType)
{
    EventRecord record;
    BuildEventRecord(&record, pszEvent, nType, nullptr);
    HandOn(record);
}

void CLogger::HandOn(const EventRecord& record)
{
    if (LocalLogging)
        WriteRecord(&record);
    if (ServerDelivery)
        Enqueue(&record);
}

void CLogger::StartDelivery()
{
    if (m_hSenderThread)
        return;
    if (std::strcmp(m_szServer, ".") == 0)
        CopyText(m_szServer, "localhost");
    LoadBuffer();

    m_hStopEvent.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_hStopEvent)
        ExitWithError("CreateEvent");
    m_hSenderThread.Reset(CreateThread(nullptr, 0, SenderThread, this, 0, &m_dwSenderThreadId));
    if (!m_hSenderThread)
        ExitWithError("CreateThread");
}

void CLogger::StopDelivery()
{
    if (m_hSenderThread && m_hStopEvent)
    {
        SetEvent(m_hStopEvent.Get());
        // A fatal error on the sender itself destroys the logger on that
        // thread, which must not wait for its own end.
        if (GetCurrentThreadId() != m_dwSenderThreadId)
            WaitForSingleObject(m_hSenderThread.Get(), INFINITE);
        m_hSenderThread.Close();
        m_hStopEvent.Close();
        m_dwSenderThreadId = 0;
    }
    Disconnect();
}

void CLogger::LoadBuffer()
{
    // Once per logger: after a restart of delivery, whatever the file holds
    // has been delivered or is still in the queue.
    if (m_bBufferLoaded || m_szBufferPath[0] == '\0')
        return;
    m_bBufferLoaded = true;

    CAutoLock lock(m_QueueLock);
    UINT nLoaded = 0;
    {
        CFileHandle hFile(CreateFileA(m_szBufferPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile)
            return;
        LARGE_INTEGER liSize;
        if (!GetFileSizeEx(hFile.Get(), &liSize))
            return;
        // A spill cut short (a full disk) ends in part of a record: the whole
        // records before it are loaded, the torn tail is dropped.
        const ULONGLONG nRecords = static_cast<ULONGLONG>(liSize.QuadPart) / EVENT_RECORD_SIZE;
        for (ULONGLONG i = 0; i < nRecords; ++i)
        {
            EventRecord record = {};
            DWORD cbRead = 0;
            if (ReadFile(hFile.Get(), &record, EVENT_RECORD_SIZE, &cbRead, nullptr) && cbRead == EVENT_RECORD_SIZE)
                nLoaded += m_Queue.Append(record) ? 1 : 0;
        }
    }
    // The file stays until its records are delivered (a drained queue deletes
    // it) or replaced by the next spill: a client that dies before then
    // loses none of them.
    if (nLoaded == 0)
        DeleteFileA(m_szBufferPath);
}

void CLogger::SaveBuffer()
{
    if (m_szBufferPath[0] == '\0')
        return;
    CAutoLock lock(m_QueueLock);
    if (m_Queue.GetCount() == 0)
    {
        DeleteFileA(m_szBufferPath);
        return;
    }

    // buffer.dat is replaced only by a complete copy: a failed write or a
    // crash halfway leaves the previous spill as it was.
    char szTempPath[MAX_PATH];
    if (!CopyText(szTempPath, m_szBufferPath) || !AppendText(szTempPath, SPILL_TEMP_SUFFIX))
        return;
    bool bWritten = false;
    {
        CFileHandle hFile(CreateFileA(szTempPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hFile)
            return;
        bWritten = true;
        for (UINT i = 0; bWritten && i < m_Queue.GetCount(); ++i)
        {
            DWORD cbWritten = 0;
            bWritten = WriteFile(hFile.Get(), m_Queue.Get(i), EVENT_RECORD_SIZE, &cbWritten, nullptr) &&
                       cbWritten == EVENT_RECORD_SIZE;
        }
        // On the disk before it takes the old file's place.
        bWritten = bWritten && FlushFileBuffers(hFile.Get());
    }
    if (!bWritten ||
        !MoveFileExA(szTempPath, m_szBufferPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(szTempPath);
}

DWORD WINAPI CLogger::SenderThread(LPVOID pvLogger)
{
    return static_cast<CLogger*>(pvLogger)->RunSender();
}

DWORD CLogger::RunSender()
{
    // Created signalled, so that the first pass runs at once.
    CHandle hWakeup(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    if (!hWakeup)
        ExitWithError("CreateEvent");
    g_hSenderWakeup = hWakeup.Get();

    m_nFailedPasses = 0;
    bool bStop = false;
    // The stop event first, so that it wins when both are signalled.
    const HANDLE ahWait[2] = { m_hStopEvent.Get(), hWakeup.Get() };
    while (!bStop)
    {
        DWORD dwWait = WaitForMultipleObjectsEx(2, ahWait, FALSE, INFINITE, TRUE);
        switch (dwWait - WAIT_OBJECT_0)
        {
        case 0:
            bStop = true;  // one last pass, then end
            break;
        case 1:
            break;
        default:
            ExitWithError("WaitForMultipleObjectsEx");
        }
        DeliveryPass();
    }
    g_hSenderWakeup = nullptr;
    return 1;
}

void CLogger::DeliveryPass()
{
    if (!m_bConnected)
        Connect();

    // The count is read without the lock: only this thread removes records,
    // and one appended meanwhile goes out in this pass or the next.
    while (m_bConnected && m_Queue.GetCount() > 0)
    {
        if (!SendHead())
        {
            Disconnect();
            break;
        }
        Sleep(PAUSE_AFTER_RECORD_MS);
        CAutoLock lock(m_QueueLock);
        m_Queue.Remove(0);
    }

    if (!m_bConnected)
    {
        // Counted since the sender started, not reset by a good pass.
        if (++m_nFailedPasses >= FAILED_PASSES_PER_SPILL)
        {
            m_nFailedPasses = 0;
            SaveBuffer();
        }
        return;
    }
    // Everything a spill held has been delivered.
    CAutoLock lock(m_QueueLock);
    if (m_Queue.GetCount() == 0 && m_szBufferPath[0] != '\0')
        DeleteFileA(m_szBufferPath);
}

void CLogger::Connect()
{
    if (!LookUpServer())
        return;
    // A plain blocking socket: no overlapped flag.
    CSocket socket(WSASocketA(AF_INET, SOCK_STREAM, 0, nullptr, 0, 0));
    if (!socket)
        return;
    const DWORD dwTimeout = SOCKET_TIMEOUT_MS;
    setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    // A refused connection and any other failure are alike: the pass fails.
    if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&m_ServerAddr), sizeof(m_ServerAddr)) != 0)
        return;
    m_Socket = std::move(socket);
    m_bConnected = true;
}

bool CLogger::LookUpServer()
{
    std::memset(&m_ServerAddr, 0, sizeof(m_ServerAddr));
    m_pHostEnt = nullptr;
    if (m_szServer[0] == '\0')
        return false;

    bool bHaveAddress = false;
    if (!IsAsciiLetter(m_szServer[0]))
    {
        m_ulServerIp = inet_addr(m_szServer);
        if (m_ulServerIp != INADDR_NONE)
        {
            m_pHostEnt = gethostbyaddr(reinterpret_cast<const char*>(&m_ulServerIp), 4, AF_INET);
            // An address without a reverse entry is still the server's address.
            m_ServerAddr.sin_family = AF_INET;
            m_ServerAddr.sin_addr.s_addr = m_ulServerIp;
            bHaveAddress = true;
        }
        // Otherwise a name that begins with a digit (3com-gw): looked up by name.
    }
    if (!bHaveAddress)
        m_pHostEnt = gethostbyname(m_szServer);

    if (m_pHostEnt && m_pHostEnt->h_addrtype == AF_INET && m_pHostEnt->h_length == sizeof(m_ServerAddr.sin_addr) &&
        m_pHostEnt->h_addr_list && m_pHostEnt->h_addr_list[0])
    {
        m_ServerAddr.sin_family = static_cast<short>(m_pHostEnt->h_addrtype);
        std::memcpy(&m_ServerAddr.sin_addr, m_pHostEnt->h_addr_list[0], sizeof(m_ServerAddr.sin_addr));
        bHaveAddress = true;
    }
    m_ServerAddr.sin_port = htons(DELIVERY_PORT);
    return bHaveAddress;
}

bool CLogger::SendHead()
{
    const EventRecord* pHead = nullptr;
    {
        CAutoLock lock(m_QueueLock);
        pHead = m_Queue.Get(0);
    }
    // Records do not move in the array and only this thread removes them, so
    // the head stays valid without the lock during the exchange.
    if (!pHead)
        return false;
    const int nSent = send(m_Socket.Get(), reinterpret_cast<const char*>(pHead), EVENT_RECORD_SIZE, 0);
    // The reply is awaited even after a short send; the exchange fails anyway.
    char acReply[sizeof(ACKNOWLEDGEMENT)];
    acReply[0] = '\0';
    const int nReply = recv(m_Socket.Get(), acReply, sizeof(acReply), 0);
    return nSent == static_cast<int>(EVENT_RECORD_SIZE) && nReply == static_cast<int>(sizeof(acReply)) &&
           std::memcmp(acReply, ACKNOWLEDGEMENT, sizeof(acReply)) == 0;
}

void CLogger::Disconnect()
{
    m_Socket.Close();
    m_bConnected = false;
}
