// STUB: replaced by the process monitor.
#include "Client/WinNT/ProcessMonitor.h"

CProcessMonitor::CProcessMonitor(bool bAllStations) : m_bUsable(false), m_bAllStations(bAllStations) {}
CProcessMonitor::~CProcessMonitor() {}
void CProcessMonitor::Tick(bool) {}
bool CProcessMonitor::HasChanged() { return false; }
bool CProcessMonitor::Update(bool, CProcessList&, CProcessList&) { return false; }
char* CProcessMonitor::CanonicalizePath(char* pszPath) { return pszPath; }
