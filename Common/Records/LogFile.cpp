// STUB: replaced by the log file.
#include "Common/Records/LogFile.h"

char* OutputFolder = nullptr;

CLogFile::CLogFile() : m_szLogPath{}, m_szOldLogPath{}, m_hFile(INVALID_HANDLE_VALUE), m_dwLimit(NO_LIMIT) {}
CLogFile::~CLogFile() {}
void CLogFile::SetPaths(const char*, const char*) {}
void CLogFile::Open(bool) {}
bool CLogFile::WriteRecord(const EventRecord*) { return false; }
void CLogFile::Close() {}
bool CLogFile::KeepOldCopy() { return true; }
