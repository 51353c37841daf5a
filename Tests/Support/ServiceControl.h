// Looking at and cleaning up services and their registry keys from tests.
#pragma once

#include "Common/Win32.h"

#include <string>

// The current state of the named service (SERVICE_RUNNING, ...), or 0 when it
// cannot be queried. pdwExitCode, when given, receives its Win32 exit code.
DWORD QueryServiceState(const char* pszName, DWORD* pdwExitCode = nullptr);

// Polls the service until it reports dwState; false after dwTimeoutMs.
bool WaitForServiceState(const char* pszName, DWORD dwState, DWORD dwTimeoutMs = 30000);

// A handle (SYNCHRONIZE) to the process of the running service, or null.
HANDLE OpenServiceProcess(const char* pszName);

// Stops and deletes the service if an earlier run left it, then deletes its
// key under Services (with Parameters) and its event-log source key.
void RemoveServiceTraces(const char* pszName);

// Full path of a program of the system folder, like "net.exe".
std::string SystemProgram(const char* pszName);
