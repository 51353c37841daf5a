#include "Tests/Support/TestProcess.h"

#include "Common/Handles.h"

#include <thread>
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

namespace
{
// Reads a pipe to its end on a thread of its own, so that a program that
// fills one stream cannot block while the other is being read.
void Drain(HANDLE hRead, std::string* pstrOut)
{
    char buf[4096];
    DWORD cbRead = 0;
    while (ReadFile(hRead, buf, sizeof buf, &cbRead, nullptr) && cbRead > 0)
        pstrOut->append(buf, cbRead);
}

bool MakePipe(CHandle& hRead, CHandle& hWrite)
{
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, &sa, 0))
        return false;
    hRead.Reset(r);
    hWrite.Reset(w);
    // Only the child's end is inherited.
    SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
    return true;
}
}  // namespace

ProgramResult RunProgram(const std::string& strPath, const std::string& strArguments, DWORD dwTimeoutMs)
{
    ProgramResult result;
    CHandle hOutRead, hOutWrite, hErrRead, hErrWrite;
    if (!MakePipe(hOutRead, hOutWrite) || !MakePipe(hErrRead, hErrWrite))
        return result;
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    CFileHandle hNul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 OPEN_EXISTING, 0, nullptr));

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hNul.Get();
    si.hStdOutput = hOutWrite.Get();
    si.hStdError = hErrWrite.Get();

    std::string strCommand = "\"" + strPath + "\"";
    if (!strArguments.empty())
        strCommand += " " + strArguments;
    std::vector<char> command(strCommand.begin(), strCommand.end());
    command.push_back('\0');

    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(strPath.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return result;
    CHandle hProcess(pi.hProcess);
    CHandle hThread(pi.hThread);
    // Our copies of the write ends must go, or the reads never see the end.
    hOutWrite.Close();
    hErrWrite.Close();

    std::thread outReader(Drain, hOutRead.Get(), &result.strOut);
    std::thread errReader(Drain, hErrRead.Get(), &result.strErr);
    if (WaitForSingleObject(hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0)
    {
        result.bTimedOut = true;
        TerminateProcess(hProcess.Get(), 0xDEAD);
        WaitForSingleObject(hProcess.Get(), 10000);
    }
    outReader.join();
    errReader.join();
    GetExitCodeProcess(hProcess.Get(), &result.dwExitCode);
    return result;
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
