#include "Tests/Support/TestProcess.h"

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

namespace
{
// "path" and the arguments, writable, as CreateProcessA wants it.
std::vector<char> CommandLine(const std::string& strPath, const std::string& strArguments)
{
    std::string strCommand = "\"" + strPath + "\"";
    if (!strArguments.empty())
        strCommand += " " + strArguments;
    std::vector<char> command(strCommand.begin(), strCommand.end());
    command.push_back('\0');
    return command;
}

// An inheritable scratch file that goes when its last handle is closed.
HANDLE CreateCaptureFile()
{
    char szFolder[MAX_PATH] = "";
    char szFile[MAX_PATH] = "";
    if (!GetTempPathA(MAX_PATH, szFolder) || !GetTempFileNameA(szFolder, "qfo", 0, szFile))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    return CreateFileA(szFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// The child wrote through a copy of this handle, which shares its position.
std::string ReadBack(HANDLE hFile)
{
    std::string strContent;
    if (SetFilePointer(hFile, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return strContent;
    char buf[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buf, sizeof buf, &cbRead, nullptr) && cbRead > 0)
        strContent.append(buf, cbRead);
    return strContent;
}
}  // namespace

ProgramResult RunProgram(const std::string& strPath, const std::string& strArguments, DWORD dwTimeoutMs)
{
    // Files, not pipes: a process the program starts (Wine's desktop process
    // for the first program that asks for the desktop) keeps a copy of its
    // handles and would hold a pipe open long after the program has ended.
    ProgramResult result;
    CFileHandle hOut(CreateCaptureFile());
    CFileHandle hErr(CreateCaptureFile());
    SECURITY_ATTRIBUTES sa = { sizeof sa, nullptr, TRUE };
    CFileHandle hNul(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0,
                                 nullptr));
    if (!hOut || !hErr || !hNul)
        return result;

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hNul.Get();
    si.hStdOutput = hOut.Get();
    si.hStdError = hErr.Get();

    std::vector<char> command = CommandLine(strPath, strArguments);

    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(strPath.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return result;
    CHandle hProcess(pi.hProcess);
    CHandle hThread(pi.hThread);
    if (WaitForSingleObject(hProcess.Get(), dwTimeoutMs) != WAIT_OBJECT_0)
    {
        result.bTimedOut = true;
        TerminateProcess(hProcess.Get(), 0xDEAD);
        WaitForSingleObject(hProcess.Get(), 10000);
    }
    GetExitCodeProcess(hProcess.Get(), &result.dwExitCode);
    result.strOut = ReadBack(hOut.Get());
    result.strErr = ReadBack(hErr.Get());
    return result;
}

HANDLE StartProgram(const std::string& strPath, const std::string& strArguments, DWORD* pdwProcessId)
{
    std::vector<char> command = CommandLine(strPath, strArguments);

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
