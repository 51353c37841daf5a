// Random command lines, from fixed seeds: the parsers of both programs keep
// every setting terminated within its field, and the programs themselves
// end normally, whatever the line holds.
#include "Client/WinNT/ClientSettings.h"
#include "Client/WinNT/Logger.h"
#include "Common/Records/EventRecord.h"
#include "Server/CommandLine.h"
#include "Server/ServerSettings.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace
{
const char* const OPTIONS[] = {"-PATH", "-F", "-ID", "-LIMIT", "-IP", "-IL", "-SERVER", "-RESET", "-?", "/?",
                               "-V", "-path", "-Limit", "-I", "-U", "-x"};
const char* const VALUES[] = {"C:\\windows", "C:\\windows\\win.ini", "C:\\", "C:\\windows\\", "-1", "0", "-5",
                              "4294967295", "99999999999999999999", "100kB", "abc", "'C:\\win dows'", "*", "."};

// One argument: an option, a known value, or random text of 0 to 700 bytes
// (longer than every field) in which every byte but NUL may stand.
std::string RandomArgument(std::mt19937& random, bool bPrintable)
{
    std::uniform_int_distribution<int> kind(0, 9);
    int nKind = kind(random);
    if (nKind < 4)
        return OPTIONS[random() % (sizeof(OPTIONS) / sizeof(OPTIONS[0]))];
    if (nKind < 6)
        return VALUES[random() % (sizeof(VALUES) / sizeof(VALUES[0]))];
    static const int lengths[] = {0, 1, 128, 129, 130, 258, 259, 260, 261, 520, 700};
    size_t cch = nKind < 8 ? lengths[random() % (sizeof(lengths) / sizeof(lengths[0]))] : random() % 64;
    std::string strText;
    for (size_t i = 0; i < cch; ++i)
        strText += static_cast<char>(bPrintable ? 'A' + random() % 26 : 1 + random() % 255);
    return strText;
}

std::vector<std::string> RandomArguments(std::mt19937& random, bool bPrintable)
{
    std::vector<std::string> arguments;
    for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n)
        arguments.push_back(RandomArgument(random, bPrintable));
    return arguments;
}

// Standard output and error go to NUL while it lives: the parsers print
// their messages for every one of thousands of lines.
class CSilence
{
public:
    CSilence()
    {
        fflush(stdout);
        fflush(stderr);
        m_nOut = _dup(1);
        m_nErr = _dup(2);
        int nNul = _open("NUL", _O_WRONLY);
        _dup2(nNul, 1);
        _dup2(nNul, 2);
        _close(nNul);
    }
    ~CSilence()
    {
        fflush(stdout);
        fflush(stderr);
        _dup2(m_nOut, 1);
        _dup2(m_nErr, 2);
        _close(m_nOut);
        _close(m_nErr);
    }
    CSilence(const CSilence&) = delete;
    CSilence& operator=(const CSilence&) = delete;

private:
    int m_nOut;
    int m_nErr;
};

bool Terminated(const char* pszField, size_t cbField)
{
    return strnlen(pszField, cbField) < cbField;
}

TEST(CommandLineProperties, ParsersKeepEverySettingWithinItsField)
{
    std::mt19937 random(1401);
    CSilence silence;
    for (int nCase = 0; nCase < 3000; ++nCase)
    {
        std::vector<std::string> arguments = RandomArguments(random, false);

        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("qfnt.exe"));
        for (std::string& strArgument : arguments)
            argv.push_back(&strArgument[0]);
        argv.push_back(nullptr);
        bool bReset = false;
        ParseCommandLine(static_cast<int>(arguments.size() + 1), argv.data(), bReset, "QFClient");
        ASSERT_TRUE(Terminated(g_szLogFileFolder, sizeof(g_szLogFileFolder))) << "case " << nCase;
        ASSERT_TRUE(Terminated(g_szFiltersPath, sizeof(g_szFiltersPath))) << "case " << nCase;
        ASSERT_TRUE(Terminated(g_szMachineID, sizeof(g_szMachineID))) << "case " << nCase;
        ASSERT_TRUE(Terminated(g_Logger.m_szServer, sizeof(g_Logger.m_szServer))) << "case " << nCase;

        char szLine[JOINED_LINE_SIZE];
        JoinArguments(static_cast<int>(arguments.size() + 1), argv.data(), szLine);
        ASSERT_TRUE(Terminated(szLine, sizeof(szLine))) << "case " << nCase;
        DWORD dwReset = 0;
        ParseCommandLine(szLine, dwReset, "Quillfen");
        ASSERT_TRUE(Terminated(g_ServerSettings.LogFileFolder, sizeof(g_ServerSettings.LogFileFolder)))
            << "case " << nCase;
        ASSERT_LE(dwReset, 1u) << "case " << nCase;
    }
}

// Removes what the runs saved: the Parameters key, and the service's key
// itself when no service is installed under it.
void RemoveSavedSettings(const char* pszService)
{
    std::string strKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + pszService;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (strKey + "\\Parameters").c_str());
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hScm ? OpenServiceA(hScm, pszService, SERVICE_QUERY_STATUS) : nullptr;
    if (hService)
        CloseServiceHandle(hService);
    else
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, strKey.c_str());
    if (hScm)
        CloseServiceHandle(hScm);
}

TEST(CommandLineProperties, ProgramsEndNormallyOnRandomCommandLines)
{
    std::mt19937 random(6401);
    const char* const programs[] = {"qfnt.exe", "QFServer.exe"};
    for (int nCase = 0; nCase < 60; ++nCase)
    {
        std::vector<std::string> arguments = RandomArguments(random, true);
        // A verb in first place would install or remove a service.
        if (lstrcmpiA(arguments[0].c_str(), "-I") == 0 || lstrcmpiA(arguments[0].c_str(), "-U") == 0)
            arguments[0] = "-V";
        std::string strTail;
        for (const std::string& strArgument : arguments)
            strTail += " \"" + strArgument + "\"";
        const char* pszProgram = programs[nCase % 2];
        ProgramResult result = RunProgram(ProgramPath(pszProgram), strTail, 30000);
        EXPECT_FALSE(result.bTimedOut) << pszProgram << strTail;
        EXPECT_LE(result.dwExitCode, 1u) << pszProgram << strTail;
    }
    RemoveSavedSettings("QFClient");
    RemoveSavedSettings("Quillfen");
}
}  // namespace
