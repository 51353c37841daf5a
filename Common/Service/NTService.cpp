// STUB: replaced by the service framework.
#include "Common/Service/NTService.h"

#include "Common/Text.h"

CNTService* g_pService = nullptr;

CNTService::CNTService(const char* pszServiceName)
    : m_szName{}, m_nVersionMajor(0), m_nVersionMinor(0), m_dwTypeFlags(0), m_bAutoStart(FALSE),
      m_hStatus(nullptr), m_ServiceStatus{}, m_bKeepRunning(0), m_hEventLog(nullptr)
{
    CopyText(m_szName, pszServiceName);
    g_pService = this;
}
CNTService::~CNTService() {}
bool CNTService::HandleServiceVerb(int, char*[]) { return false; }
void CNTService::Run() {}
bool CNTService::OnInit() { return true; }
void CNTService::OnStop() {}
void CNTService::OnInterrogate() {}
void CNTService::OnPause() {}
void CNTService::OnContinue() {}
void CNTService::OnShutdown() {}
bool CNTService::OnUserControl(DWORD) { return false; }
bool CNTService::IsServiceInstalled() { return false; }
bool CNTService::InstallService() { return false; }
bool CNTService::RemoveService() { return false; }
bool CNTService::StartDispatcher() { return false; }
bool CNTService::Initialize() { return false; }
void CNTService::SetStatus(DWORD) {}
void CNTService::ReportServiceEvent(WORD, DWORD, const char*, const char*, const char*) {}
void CNTService::Trace(const char*, ...) {}
void WINAPI CNTService::ServiceMain(DWORD, LPSTR*) {}
void WINAPI CNTService::Handler(DWORD) {}
