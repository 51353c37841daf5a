// STUB: replaced by the client service.
#include "Client/WinNT/ClientService.h"

CClientService::CClientService() : CNTService("QFClient") {}
CClientService::~CClientService() {}
void CClientService::Run() {}
bool CClientService::OnInit() { return true; }
void CClientService::OnStop() {}
void CClientService::OnInterrogate() {}
void CClientService::OnPause() {}
void CClientService::OnContinue() {}
void CClientService::OnShutdown() {}
void CClientService::ResetSettings() {}
void CClientService::SaveSettings() {}
