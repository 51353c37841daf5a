// QFServer's command line as an administrator types it: what it prints, and
// what it leaves under the Parameters key.
#include "Common/Handles.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestFolder.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
const char KEY_PATH[] = "SYSTEM\\CurrentControlSet\\Services\\Quillfen\\Parameters";

const std::string USAGE =
    "Quillfen v.1.5\n\n"
    "Usage: QFServer [-I] [-V] [-U] [-PATH <log folder>] [-LIMIT <limit>] [-RESET] [-?]\n\n"
    "-I - install the service.\n"
    "-V - report the name and version number of the service.\n"
    "-U - remove the service.\n"
    "-PATH - set path to an existing folder to place logs there; the default path is current folder.\n"
    "-LIMIT - set the limit of log size in kB; the default limit is infinite.\n"
    "-RESET - reset all previous settings.\n"
    "-? - display help on options.\n";
const std::string WARNING =
    "Warning: at least one parameter required. If you want to run this service, login as administrator and type "
    "the following in command prompt: net start \"Quillfen\". Or type -? to get help on parameters\n";
const std::string PATH_ERROR =
    "Error in program's command line: path after -PATH option must point to an existing folder.\n";
const std::string PATH_TOO_LONG =
    "Error in program's command line: path after -PATH option is longer than 243 characters.\n";
const std::string LIMIT_ERROR = "Error in program's command line: -LIMIT option should have a parameter.\n";
const std::string LINE_TOO_LONG =
    "Error in program's command line: the command line is longer than 259 characters; nothing was changed.\n";

std::string Unknown(const char* pszToken)
{
    return std::string("Error in program's command line: unknown parameter \"") + pszToken +
           "\". Type -? to get help on parameters\n";
}

// Reads one value of the Parameters key; false when it is not there.
bool QueryStored(const char* pszName, DWORD dwExpectedType, void* pData, DWORD cbData, DWORD* pcbStored)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, KEY_PATH, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    CRegKey key(hKey);
    DWORD dwType = 0;
    *pcbStored = cbData;
    if (RegQueryValueExA(key.Get(), pszName, nullptr, &dwType, static_cast<BYTE*>(pData), pcbStored) !=
        ERROR_SUCCESS)
        return false;
    EXPECT_EQ(dwType, dwExpectedType) << pszName;
    return true;
}

// The stored folder, or "-" when there is none.
std::string StoredFolder()
{
    char szValue[MAX_PATH + 1] = {};
    DWORD cbStored = 0;
    if (!QueryStored("LogFileFolder", REG_SZ, szValue, MAX_PATH, &cbStored))
        return "-";
    EXPECT_EQ(cbStored, strlen(szValue) + 1) << "stored with its terminator";
    return szValue;
}

// The stored limit, or 0 when there is none.
DWORD StoredLimit()
{
    DWORD dwValue = 0, cbStored = 0;
    return QueryStored("Limit", REG_DWORD, &dwValue, sizeof(dwValue), &cbStored) ? dwValue : 0;
}

std::string Replace(std::string strText, const std::string& strFrom, const std::string& strTo)
{
    for (size_t n = strText.find(strFrom); n != std::string::npos; n = strText.find(strFrom, n + strTo.size()))
        strText.replace(n, strFrom.size(), strTo);
    return strText;
}
}  // namespace

class ServerOptions : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveServiceTraces("Quillfen");
        CreateDirectoryA(m_Folder.File("My Logs").c_str(), nullptr);
        WriteWholeFile(m_Folder.File("file.txt"), "not a folder");
    }
    void TearDown() override { RemoveServiceTraces("Quillfen"); }

    ProgramResult Run(const std::string& strArguments)
    {
        return RunProgram(ProgramPath("QFServer.exe"), Replace(strArguments, "{dir}", m_Folder.Path()));
    }

    CTestFolder m_Folder;
};

TEST_F(ServerOptions, StoreWhatTheLineGivesUpToItsFirstError)
{
    const std::string strLongFolder = "C:\\" + std::string(241, 'x');
    std::string strLongLine = "-RESET -LIMIT 9";
    while (strLongLine.size() < 260)
        strLongLine += " -RESET";

    struct Case
    {
        std::string strBefore;  // an earlier run
        std::string strArguments;
        std::string strOut;
        std::string strErr;
        std::string strFolder;  // "-": none stored
        DWORD dwLimit;          // 0: none stored
    };
    const Case cases[] = {
        { "", "", WARNING, "", "-", 0 },
        { "", "-?", USAGE, "", "-", 0 },
        { "", "/?", USAGE, "", "-", 0 },
        { "", "-path {dir}", "", "", "{dir}", 0 },
        { "", "-Limit 100kB", "", "", "-", 100 },
        { "", "-LIMIT 0", "", LIMIT_ERROR, "-", 0 },
        { "", "-LIMIT -5", "", LIMIT_ERROR, "-", 0 },
        { "", "-LIMIT abc", "", LIMIT_ERROR, "-", 0 },
        { "", "-LIMIT", "", LIMIT_ERROR, "-", 0 },
        { "", "-LIMIT 3000000000", "", LIMIT_ERROR, "-", 0 },
        { "", "-PATH {dir} -LIMIT", "", LIMIT_ERROR, "{dir}", 0 },
        { "", "-PATH {dir} -? -LIMIT 5", USAGE, "", "{dir}", 0 },
        { "", "-LIMIT 5 /PATH {dir}", "", Unknown("/PATH"), "-", 5 },
        { "", "-reset /I", "", Unknown("/I"), "-", 0 },
        // Single quotes inside double quotes reach the parser and group the blank.
        { "", "-PATH \"'{dir}\\My Logs'\"", "", "", "{dir}\\My Logs", 0 },
        { "", "-PATH {dir}\\'My Logs'", "", "", "{dir}\\My Logs", 0 },
        { "", "-PATH \"'{dir}\\My Logs \t'\"", "", "", "{dir}\\My Logs", 0 },
        // Double quotes alone are gone before the parser: the value ends at the blank.
        { "", "-PATH \"{dir}\\My Logs\"", "", PATH_ERROR, "-", 0 },
        { "", "-PATH", "", PATH_ERROR, "-", 0 },
        { "", "-PATH \"''\" -LIMIT 5", "", PATH_ERROR, "-", 0 },
        { "", "-PATH {dir}\\missing", "", PATH_ERROR, "-", 0 },
        { "", "-PATH {dir}\\file.txt", "", PATH_ERROR, "-", 0 },
        { "", "-PATH {dir}\\*", "", PATH_ERROR, "-", 0 },
        // Settings accumulate until -RESET, which leaves exactly the line's own.
        { "-LIMIT 50", "-PATH {dir}", "", "", "{dir}", 50 },
        { "-LIMIT 50 -PATH {dir}", "-RESET -LIMIT 7", "", "", "-", 7 },
        { "-LIMIT 50", "-RESET", "", "", "-", 0 },
        // Lines refused whole: nothing of them is reset or saved.
        { "-LIMIT 50", "-RESET -PATH " + strLongFolder, "", PATH_TOO_LONG, "-", 50 },
        { "-LIMIT 50", strLongLine, "", LINE_TOO_LONG, "-", 50 },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE("QFServer " + c.strArguments);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY_PATH);
        if (!c.strBefore.empty())
        {
            ASSERT_EQ(Run(c.strBefore).strErr, "");
        }
        ProgramResult result = Run(c.strArguments);
        EXPECT_EQ(result.dwExitCode, 0u);
        EXPECT_EQ(result.strOut, c.strOut);
        EXPECT_EQ(result.strErr, c.strErr);
        EXPECT_EQ(StoredFolder(), Replace(c.strFolder, "{dir}", m_Folder.Path()));
        EXPECT_EQ(StoredLimit(), c.dwLimit);
    }
}

TEST_F(ServerOptions, VerbsCountOnlyInFirstPlace)
{
    struct Case
    {
        std::string strArguments;
        std::string strOut;
        std::string strErr;
        bool bInstalledAfter;
    };
    const Case cases[] = {
        { "-PATH {dir} -I", "", "", false },
        { "-I -PATH {dir}", "Quillfen installed\n", "", true },
        { "-i -bogus", "Quillfen is already installed\n", Unknown("-bogus"), true },
        { "-v", "Quillfen Version 1.5\nThe service is currently installed\n", "", true },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE("QFServer " + c.strArguments);
        ProgramResult result = Run(c.strArguments);
        EXPECT_EQ(result.strOut, c.strOut);
        EXPECT_EQ(result.strErr, c.strErr);
        EXPECT_EQ(QueryServiceState("Quillfen") != 0, c.bInstalledAfter);
        EXPECT_EQ(StoredFolder(), m_Folder.Path());
    }
}
