// The client's output object: the local log (it is a CLogFile), the four
// event emitters with their filters, and delivery of records to the
// collecting server through a queue, a sender thread and the spill file
// buffer.dat.
#pragma once

#include "Common/CriticalSection.h"
#include "Common/Records/EventRecord.h"
#include "Common/Records/LogFile.h"
#include "Client/WinNT/ItemArray.h"

// TCP port of the collecting server.
constexpr USHORT DELIVERY_PORT = 6401;

// CPU time of a program when none is available.
constexpr ULONGLONG NO_CPU_TIME = ~0ULL;

// Set by the run loop to request a delivery pass; created by the sender thread.
extern HANDLE g_hSenderWakeup;

class CLogger : public CLogFile
{
public:
    CLogger();
    ~CLogger() override;

    // Builds the buffer path (server delivery) and the log paths (local
    // logging) under OutputFolder, then opens the outputs.
    void SetPaths(const char* pszFileName, const char* pszOldSuffix, const char* pszBufferSuffix);
    using CLogFile::SetPaths;
    void Open(bool bTruncate) override;
    void Close() override;

    // Appends a copy of the record to the delivery queue.
    void Enqueue(const EventRecord* pRecord);

    // The emitters: each applies its suppression rules and the filters, builds
    // its record and hands it to the local log and/or the delivery queue.
    void LogStarted();
    void LogStopped();
    void LogTracked(const char* pszProgram, DWORD dwProcessId, const char* pszUser);
    void LogFinished(const char* pszProgram, DWORD dwProcessId, const SYSTEMTIME& stStart,
                     ULONGLONG ullCpuTime, BYTE bActivity, const char* pszUser);

    // Reads the filters file at pszPath into m_Filters (upper-cased, one
    // pattern per line). A file that cannot be read leaves no filters.
    void LoadFilters(const char* pszPath);
    // True when the program passes the filters (always, without filters).
    bool PassesFilters(const char* pszProgram) const;

    bool                     LocalLogging;
    bool                     ServerDelivery;
    int                      m_nIgnorePrograms;
    int                      m_nIgnoreStartFinish;
    CItemArrayOf<char[MAX_PATH]> m_Filters;
    char                     m_szServer[MAX_PATH];
    char                     m_szBufferPath[MAX_PATH];

private:
    void StartDelivery();
    void StopDelivery();
    void LoadBuffer();
    void SaveBuffer();
    void HandOn(const EventRecord& record);

    static DWORD WINAPI SenderThread(LPVOID pvLogger);
    void DeliveryPass();
    bool Connect();
    void Disconnect();

    ULONG                    m_ulServerIp;
    sockaddr_in              m_ServerAddr;
    hostent*                 m_pHostEnt;
    SOCKET                   m_Socket;
    bool                     m_bConnected;
    HANDLE                   m_hSenderThread;
    HANDLE                   m_hStopEvent;
    CCriticalSection         m_QueueLock;

public:
    CItemArrayOf<EventRecord> m_Queue;
};

// The client's one logger, constructed before main.
extern CLogger g_Logger;
