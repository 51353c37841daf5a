// The client's output object: the local log (it is a CLogFile), the four
// event emitters with their filters, and delivery of records to the
// collecting server through a queue, a sender thread and the spill file
// buffer.dat.
#pragma once

#include "Common/CriticalSection.h"
#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"
#include "Common/Records/LogFile.h"
#include "Client/WinNT/ItemArray.h"

// TCP port of the collecting server.
constexpr USHORT DELIVERY_PORT = 6401;

// CPU time of a program when none is available.
constexpr ULONGLONG NO_CPU_TIME = ~0ULL;

// Set by the run loop to request a delivery pass; created (signalled) by the
// sender thread as it starts and closed as it ends.
extern HANDLE g_hSenderWakeup;

class CLogger : public CLogFile
{
public:
    // Starts Windows Sockets; a failure ends the program.
    CLogger();
    // Ends delivery with one last pass and saves what is still queued in
    // buffer.dat (server delivery), then closes the local log.
    ~CLogger() override;

    // Builds the buffer path (server delivery: OutputFolder followed by the
    // buffer suffix) and the log paths (local logging), then opens the outputs.
    void SetPaths(const char* pszFileName, const char* pszOldSuffix, const char* pszBufferSuffix);
    using CLogFile::SetPaths;
    // Starts delivery (server delivery) and opens the local log (local logging).
    void Open(bool bTruncate) override;
    // Stops delivery (server delivery) and closes the local log (local logging).
    void Close() override;

    // Appends a copy of the record to the delivery queue; the next pass sends it.
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

    bool                         LocalLogging;
    bool                         ServerDelivery;
    int                          m_nIgnorePrograms;
    int                          m_nIgnoreStartFinish;
    CItemArrayOf<char[MAX_PATH]> m_Filters;
    char                         m_szServer[MAX_PATH];
    char                         m_szBufferPath[MAX_PATH];

    // Records waiting for delivery, oldest first. Only the sender removes
    // them; everyone else appends through Enqueue.
    CItemArrayOf<EventRecord>    m_Queue;

private:
    // Builds a start or stop record and hands it on.
    void Emit(const char* pszEvent, int32_t nType);
    // Builds the record of a program event; false when the ignore setting or
    // the filters suppress it.
    bool BuildProgramRecord(EventRecord& record, const char* pszEvent, int32_t nType, const char* pszProgram,
                            DWORD dwProcessId, const char* pszUser) const;
    void HandOn(const EventRecord& record);

    void StartDelivery();
    void StopDelivery();
    void LoadBuffer();
    void SaveBuffer();

    static DWORD WINAPI SenderThread(LPVOID pvLogger);
    DWORD RunSender();
    void DeliveryPass();
    void Connect();
    bool LookUpServer();
    bool SendHead();
    void Disconnect();

    ULONG            m_ulServerIp;     // numeric Server, network byte order
    sockaddr_in      m_ServerAddr;
    hostent*         m_pHostEnt;       // owned by the sockets library
    CSocket          m_Socket;
    bool             m_bConnected;
    int              m_nFailedPasses;  // since the sender started; spill at every 25th
    bool             m_bBufferLoaded;  // buffer.dat is read once per logger
    CHandle          m_hSenderThread;
    DWORD            m_dwSenderThreadId;
    CHandle          m_hStopEvent;
    CCriticalSection m_QueueLock;      // taken after the monitor's lock, never before
};

// The client's one logger, constructed before main.
extern CLogger g_Logger;
