// Running the programs under test as a user would, and reading what they print.
#pragma once

#include "Common/Win32.h"

#include <string>

struct ProgramResult
{
    DWORD       dwExitCode = 0xFFFFFFFF;
    bool        bTimedOut = false;
    std::string strOut;  // standard output, as written
    std::string strErr;  // standard error, as written
};

// Full path of a program built beside the running test (name like "qfnt.exe").
std::string ProgramPath(const char* pszName);

// Runs "path" followed by strArguments (a command-line tail, quoted by the
// caller as needed), with standard input empty, and collects its output.
// A program still running after dwTimeoutMs is killed and bTimedOut set.
ProgramResult RunProgram(const std::string& strPath, const std::string& strArguments,
                         DWORD dwTimeoutMs = 60000);

// Starts a program without waiting; returns its process handle (the caller
// closes it) or null.
HANDLE StartProgram(const std::string& strPath, const std::string& strArguments,
                    DWORD* pdwProcessId = nullptr);
