#include "Tests/Support/TestProcess.h"

#include "Tests/Support/ProgramFiles.h"

#include "Common/Handles.h"

#include <vector>

std::string ProgramPath(const char* pszName)
{
    char szPath[MAX_PATH] = "";
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strFolder(szPath, cch);
    size_t nSlash = strFolder.find_last_of('\\');
    if (nSlash != std::string::npos)
        strFolder.resize(nSlash);
    return strFolder + "\\" + pszName;
}

ProgramResult RunProgram(const std::string& strPath, const std::string& strArguments, DWORD dwTimeoutMs)
{
    // Files, not pipes: a process the program starts (Wine's desktop process
    // for the first program that asks for the desktop) keeps a copy of its
    // handles and would hold a pipe open long after the program has ended.
    return RunProgramWithFiles(strPath, strArguments, dwTimeoutMs);
}

HANDLE StartProgram(const std::string& strPath, const std::string& strArguments, DWORD* pdwProcessId)
{
    std::string strCommand = "\"" + strPath + "\"";
    if (!strArguments.empty())
        strCommand += " " + strArguments;
    std::vector<char> command(strCommand.begin(), strCommand.end());
    command.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(strPath.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    if (pdwProcessId)
        *pdwProcessId = pi.dwProcessId;
    return pi.hProcess;
}
