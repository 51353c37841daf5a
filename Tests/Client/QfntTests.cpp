// qfnt as an administrator uses it: its messages on their streams, the
// settings each command line leaves in the registry, and the service QFClient
// installed, started, stopped and removed through the real SCM.
#include "Common/Handles.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestFolder.h"
#include "Tests/Support/TestProcess.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace
{
const char SERVICE_NAME[] = "QFClient";
const char SETTINGS_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\QFClient\\Parameters";

const std::string WARNING =
    "Warning: at least one parameter required. If you want to run this service, login as administrator and type "
    "the following in command prompt: net start \"QFClient\". Or type -? to get help on parameters\n";
const std::string HELP =
    "Quillfen v.1.5\n"
    "\n"
    "Usage: qfnt [-I] [-V] [-U] [-SERVER <server>] [-PATH <log file folder>] [-F <filters file>] [-LIMIT <limit>] "
    "[-ID <id>] [-IP] [-IL] [-RESET] [-?]\n"
    "\n"
    "-I - install the service.\n"
    "-V - report the name and version number of the service.\n"
    "-U - remove the service.\n"
    "-SERVER - enables log delivery to server; set IP address or host name of server where QFServer is running "
    "(set this to \".\" if QFServer is running on a local machine).\n"
    "-PATH - enables logging to a local file; set path to an existing folder to place logs there; the default path "
    "is folder of the program.\n"
    "-F - set path to the filters file.\n"
    "-LIMIT - set the limit of local log file size in kB; the default limit is infinite.\n"
    "-ID - set alternative identifier of local machine in log file.\n"
    "-IP - do not log programs.\n"
    "-IL - do not log when the logging has been started and finished.\n"
    "-RESET - reset all previous settings.\n"
    "-? - display help on options.\n";
const std::string PATH_ERROR =
    "Error in program's command line: path after -PATH option must point to an existing folder.\n";
const std::string FILTERS_ERROR =
    "Error in program's command line: path after -F option must point to the existing file\n";
const std::string ID_ERROR = "Error in program's command line: -ID option has an invalid parameter\n";
const std::string LIMIT_ERROR = "Error in program's command line: -LIMIT option has an invalid parameter\n";
const std::string SERVER_ERROR = "Error in program's command line: -SERVER option should have a parameter\n";

using Values = std::map<std::string, std::string>;

// Every value under the settings key as "sz:text" or "dw:number".
Values ReadSettingsValues()
{
    Values values;
    HKEY hKeyRaw = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &hKeyRaw) != ERROR_SUCCESS)
    {
        values["(no key)"] = "";
        return values;
    }
    CRegKey hKey(hKeyRaw);
    for (DWORD dwIndex = 0;; ++dwIndex)
    {
        char szName[256];
        DWORD cchName = sizeof szName;
        BYTE data[1024];
        DWORD cbData = sizeof data;
        DWORD dwType = 0;
        if (RegEnumValueA(hKey.Get(), dwIndex, szName, &cchName, nullptr, &dwType, data, &cbData) != ERROR_SUCCESS)
            break;
        if (dwType == REG_SZ && cbData > 0 && data[cbData - 1] == '\0')
            values[szName] = "sz:" + std::string(reinterpret_cast<char*>(data), cbData - 1);
        else if (dwType == REG_DWORD && cbData == 4)
            values[szName] = "dw:" + std::to_string(*reinterpret_cast<DWORD*>(data));
        else
            values[szName] = "type " + std::to_string(dwType) + ", " + std::to_string(cbData) + " bytes";
    }
    return values;
}

std::string Replace(std::string str, const std::string& strFrom, const std::string& strTo)
{
    for (size_t n = str.find(strFrom); n != std::string::npos; n = str.find(strFrom, n + strTo.size()))
        str.replace(n, strFrom.size(), strTo);
    return str;
}

struct ServiceConfig
{
    DWORD       dwServiceType = 0;
    DWORD       dwStartType = 0;
    DWORD       dwErrorControl = 0;
    std::string strBinaryPath;
    std::string strDisplayName;
    std::string strAccount;
};

bool QueryConfig(ServiceConfig& config)
{
    CScHandle hScm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    CScHandle hService(hScm ? OpenServiceA(hScm.Get(), SERVICE_NAME, SERVICE_QUERY_CONFIG) : nullptr);
    if (!hService)
        return false;
    std::vector<BYTE> buffer(8192);
    DWORD cbNeeded = 0;
    auto* pConfig = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(hService.Get(), pConfig, static_cast<DWORD>(buffer.size()), &cbNeeded))
        return false;
    config.dwServiceType = pConfig->dwServiceType;
    config.dwStartType = pConfig->dwStartType;
    config.dwErrorControl = pConfig->dwErrorControl;
    config.strBinaryPath = pConfig->lpBinaryPathName ? pConfig->lpBinaryPathName : "";
    config.strDisplayName = pConfig->lpDisplayName ? pConfig->lpDisplayName : "";
    config.strAccount = pConfig->lpServiceStartName ? pConfig->lpServiceStartName : "";
    return true;
}

class QfntTest : public ::testing::Test
{
protected:
    void SetUp() override { RemoveServiceTraces(SERVICE_NAME); }
    void TearDown() override { RemoveServiceTraces(SERVICE_NAME); }

    // Runs qfnt (or the given copy) with the arguments, %F standing for the
    // test folder, and expects it to end normally.
    ProgramResult Qfnt(const std::string& strArguments, const std::string& strProgram = "")
    {
        ProgramResult result = RunProgram(strProgram.empty() ? m_strQfnt : strProgram,
                                                   Replace(strArguments, "%F", m_folder.Path()), PROGRAM_TIMEOUT_MS);
        EXPECT_FALSE(result.bTimedOut) << strArguments;
        EXPECT_EQ(0u, result.dwExitCode) << strArguments;
        return result;
    }

    // net start / net stop; true when the SCM then shows dwState.
    ::testing::AssertionResult Net(const char* pszVerb, DWORD dwState)
    {
        ProgramResult result =
            RunProgram(SystemProgram("net.exe"), std::string(pszVerb) + " " + SERVICE_NAME, PROGRAM_TIMEOUT_MS);
        if (!result.bTimedOut && WaitForServiceState(SERVICE_NAME, dwState, PROGRAM_TIMEOUT_MS))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "net " << pszVerb << (result.bTimedOut ? " timed out: " : ": ")
                                             << result.strOut << result.strErr << " state "
                                             << QueryServiceState(SERVICE_NAME);
    }

    // Short enough that a stuck step fails the test with its message.
    static constexpr DWORD PROGRAM_TIMEOUT_MS = 20000;

    const std::string m_strQfnt = ProgramPath("qfnt.exe");
    CTestFolder m_folder;
};
}  // namespace

TEST_F(QfntTest, MessagesGoToTheirStreamsAndEachCommandLineLeavesItsValues)
{
    ASSERT_TRUE(WriteWholeFile(m_folder.File("filters.txt"), "*\r\n"));
    const std::string strSavedFolder = "sz:" + m_folder.Path();
    struct Case
    {
        std::vector<std::string> commandLines;  // run in turn; the last one's output is checked
        std::string              strOut;
        std::string              strErr;
        Values                   values;
    };
    const Case cases[] = {
        { { "" }, WARNING, "", {} },
        { { "-?" }, HELP, "", {} },
        { { "-? -ID x" }, HELP, "", {} },
        { { "-SERVER host -PATH \"%F\"" }, "", "", { { "LogFileFolder", strSavedFolder }, { "Server", "sz:host" } } },
        { { "-path \"%F\" -Server h2 -limit 12 -ip -il -f \"%F\\filters.txt\" -id WS-9" },
          "",
          "",
          { { "LogFileFolder", strSavedFolder },
            { "FiltersPath", strSavedFolder + "\\filters.txt" },
            { "MachineID", "sz:WS-9" },
            { "Limit", "dw:12" },
            { "IgnoreStartFinish", "dw:1" },
            { "IgnorePrograms", "dw:1" },
            { "Server", "sz:h2" } } },
        { { "-LIMIT abc" }, "", "", { { "Limit", "dw:0" } } },
        { { "-LIMIT 5", "-LIMIT -1" }, "", "", { { "Limit", "dw:5" } } },
        { { "-ID -IP" }, "", "", { { "MachineID", "sz:-IP" } } },
        { { "-ID" }, "", ID_ERROR, {} },
        { { "-ID " + std::string(130, 'm') }, "", ID_ERROR, {} },
        // The reset deletes the key after the whole line, also after an error.
        { { "-ID old -IP", "-SERVER host -RESET -ID" }, "", ID_ERROR, { { "Server", "sz:host" } } },
        { { "-ID old", "-RESET -SERVER host" }, "", "", { { "Server", "sz:host" } } },
        { { "-SERVER host -xyz -ID m" },
          "",
          "Error in program's command line: unknown parameter \"-xyz\". Type -? to get help on parameters\n",
          { { "Server", "sz:host" } } },
        { { "-PATH \"%F\\missing\"" }, "", PATH_ERROR, {} },
        { { "-PATH" }, "", PATH_ERROR, {} },
        { { "-F \"%F\\missing.txt\"" }, "", FILTERS_ERROR, {} },
        { { "-F" }, "", FILTERS_ERROR, {} },
        { { "-LIMIT" }, "", LIMIT_ERROR, {} },
        { { "-SERVER" }, "", SERVER_ERROR, {} },
        { { "-SERVER " + std::string(260, 's') }, "", SERVER_ERROR, {} },
        // A verb that is not the first argument installs nothing.
        { { "-IP -I" }, "", "", { { "IgnorePrograms", "dw:1" } } },
        { { "-SERVER host -I" }, "", "", { { "Server", "sz:host" } } },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.commandLines.back().substr(0, 80));
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
        ProgramResult result;
        for (const std::string& strLine : c.commandLines)
            result = Qfnt(strLine);
        EXPECT_EQ(c.strOut, result.strOut);
        EXPECT_EQ(c.strErr, result.strErr);
        EXPECT_EQ(c.values, ReadSettingsValues());
        EXPECT_EQ(0u, QueryServiceState(SERVICE_NAME));
    }
}

TEST_F(QfntTest, InstallsAsAnInteractiveAutoStartServiceThatStartsAndStops)
{
    // A copy in a folder with a blank gets a quoted program path, so that the
    // SCM cannot take the part before the blank for a program.
    std::string strBlankFolder = m_folder.File("with blank");
    ASSERT_TRUE(CreateDirectoryA(strBlankFolder.c_str(), nullptr));
    std::string strCopy = strBlankFolder + "\\qfnt.exe";
    ASSERT_TRUE(CopyFileA(m_strQfnt.c_str(), strCopy.c_str(), FALSE));

    struct Case
    {
        std::string strProgram;
        std::string strImagePath;
    };
    const Case cases[] = { { m_strQfnt, m_strQfnt }, { strCopy, "\"" + strCopy + "\"" } };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.strProgram);
        EXPECT_EQ("QFClient Version 1.5\nThe service is not installed\n", Qfnt("-V", c.strProgram).strOut);
        EXPECT_EQ("QFClient is not installed\n", Qfnt("-u", c.strProgram).strOut);
        // Options after the verb are saved before it is handled.
        EXPECT_EQ("QFClient installed\n", Qfnt("-I -PATH \"%F\"", c.strProgram).strOut);
        EXPECT_EQ("sz:" + m_folder.Path(), ReadSettingsValues()["LogFileFolder"]);

        ServiceConfig config;
        ASSERT_TRUE(QueryConfig(config));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS), config.dwServiceType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.dwStartType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.dwErrorControl);
        EXPECT_EQ(c.strImagePath, config.strBinaryPath);
        EXPECT_EQ("QFClient", config.strDisplayName);
        EXPECT_EQ("LocalSystem", config.strAccount);

        EXPECT_EQ("QFClient is already installed\n", Qfnt("-i", c.strProgram).strOut);
        EXPECT_EQ("QFClient Version 1.5\nThe service is currently installed\n", Qfnt("-v", c.strProgram).strOut);

        ASSERT_TRUE(Net("start", SERVICE_RUNNING));
        CHandle hProcess(OpenServiceProcess(SERVICE_NAME));
        ASSERT_TRUE(Net("stop", SERVICE_STOPPED));
        DWORD dwExitCode = 0xFFFFFFFF;
        QueryServiceState(SERVICE_NAME, &dwExitCode);
        EXPECT_EQ(0u, dwExitCode);
        ASSERT_TRUE(hProcess);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), PROGRAM_TIMEOUT_MS));

        EXPECT_EQ("QFClient removed. (You must delete the file (" + c.strProgram + ") yourself.)\n",
                  Qfnt("-U", c.strProgram).strOut);
        EXPECT_EQ(0u, QueryServiceState(SERVICE_NAME));
        RemoveServiceTraces(SERVICE_NAME);
    }
}

TEST_F(QfntTest, RunningServiceLogsItsStartAndStopUnlessToldNotTo)
{
    struct Case
    {
        const char* pszOptions;
        size_t      nLines;
    };
    const Case cases[] = { { "-PATH \"%F\"", 1 }, { "-PATH \"%F\" -IL", 0 } };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszOptions);
        const std::string strLog = m_folder.File("Process.log");
        DeleteFileA(strLog.c_str());
        Qfnt(std::string("-RESET ") + c.pszOptions);
        EXPECT_EQ("QFClient installed\n", Qfnt("-I").strOut);
        ASSERT_TRUE(Net("start", SERVICE_RUNNING));
        CHandle hProcess(OpenServiceProcess(SERVICE_NAME));
        ASSERT_TRUE(Net("stop", SERVICE_STOPPED));
        ASSERT_TRUE(hProcess);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess.Get(), PROGRAM_TIMEOUT_MS));
        Qfnt("-U");

        std::string strContent = ReadWholeFile(strLog);
        size_t nStarted = 0, nStopped = 0, nStartedAt = 0, nStoppedAt = 0;
        for (size_t n = strContent.find(",10,\"Logging started\""); n != std::string::npos;
             n = strContent.find(",10,\"Logging started\"", n + 1), ++nStarted)
            nStartedAt = n;
        for (size_t n = strContent.find(",20,\"Logging stopped\""); n != std::string::npos;
             n = strContent.find(",20,\"Logging stopped\"", n + 1), ++nStopped)
            nStoppedAt = n;
        EXPECT_EQ(c.nLines, nStarted) << strContent;
        EXPECT_EQ(c.nLines, nStopped) << strContent;
        EXPECT_LE(nStartedAt, nStoppedAt);
        RemoveServiceTraces(SERVICE_NAME);
    }
}
