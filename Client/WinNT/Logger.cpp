// STUB: replaced by the logger.
#include "Client/WinNT/Logger.h"

HANDLE g_hSenderWakeup = nullptr;

CLogger::CLogger()
    : LocalLogging(false), ServerDelivery(false), m_nIgnorePrograms(0), m_nIgnoreStartFinish(0),
      m_szServer{}, m_szBufferPath{}, m_ulServerIp(0), m_ServerAddr{}, m_pHostEnt(nullptr),
      m_Socket(INVALID_SOCKET), m_bConnected(false), m_hSenderThread(nullptr), m_hStopEvent(nullptr) {}
CLogger::~CLogger() {}
void CLogger::SetPaths(const char*, const char*, const char*) {}
void CLogger::Open(bool) {}
void CLogger::Close() {}
void CLogger::Enqueue(const EventRecord*) {}
void CLogger::LogStarted() {}
void CLogger::LogStopped() {}
void CLogger::LogTracked(const char*, DWORD, const char*) {}
void CLogger::LogFinished(const char*, DWORD, const SYSTEMTIME&, ULONGLONG, BYTE, const char*) {}
void CLogger::LoadFilters(const char*) {}
bool CLogger::PassesFilters(const char*) const { return true; }
