// The client's command line, its settings in the registry and the stop of
// its run loop, in-process.
#include "Client/WinNT/ClientService.h"
#include "Client/WinNT/ClientSettings.h"
#include "Client/WinNT/Logger.h"
#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"
#include "Common/Records/LogFile.h"
#include "Common/Text.h"
#include "Tests/Support/ServiceControl.h"
#include "Tests/Support/TestFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
const char SETTINGS_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\QFClient\\Parameters";

struct Settings
{
    std::string strLogFileFolder;
    std::string strFiltersPath;
    std::string strMachineID;
    DWORD       dwLimit = NO_LIMIT;
    int         nIgnoreStartFinish = 0;
    int         nIgnorePrograms = 0;
    std::string strServer;

    bool operator==(const Settings& o) const
    {
        return strLogFileFolder == o.strLogFileFolder && strFiltersPath == o.strFiltersPath &&
               strMachineID == o.strMachineID && dwLimit == o.dwLimit && nIgnoreStartFinish == o.nIgnoreStartFinish &&
               nIgnorePrograms == o.nIgnorePrograms && strServer == o.strServer;
    }
};

void PrintTo(const Settings& s, std::ostream* os)
{
    *os << "{folder=" << s.strLogFileFolder << " filters=" << s.strFiltersPath << " id=" << s.strMachineID
        << " limit=" << s.dwLimit << " il=" << s.nIgnoreStartFinish << " ip=" << s.nIgnorePrograms
        << " server=" << s.strServer << "}";
}

// A text field read no further than its size, so a lost terminator shows.
std::string Field(const char* psz, size_t cb)
{
    return std::string(psz, BoundedLength(psz, cb));
}

Settings CurrentSettings()
{
    Settings s;
    s.strLogFileFolder = Field(g_szLogFileFolder, sizeof g_szLogFileFolder);
    s.strFiltersPath = Field(g_szFiltersPath, sizeof g_szFiltersPath);
    s.strMachineID = Field(g_szMachineID, sizeof g_szMachineID);
    s.dwLimit = g_Logger.m_dwLimit;
    s.nIgnoreStartFinish = g_Logger.m_nIgnoreStartFinish;
    s.nIgnorePrograms = g_Logger.m_nIgnorePrograms;
    s.strServer = Field(g_Logger.m_szServer, sizeof g_Logger.m_szServer);
    return s;
}

void ApplySettings(const Settings& s)
{
    std::strcpy(g_szLogFileFolder, s.strLogFileFolder.c_str());
    std::strcpy(g_szFiltersPath, s.strFiltersPath.c_str());
    std::strcpy(g_szMachineID, s.strMachineID.c_str());
    g_Logger.m_dwLimit = s.dwLimit;
    g_Logger.m_nIgnoreStartFinish = s.nIgnoreStartFinish;
    g_Logger.m_nIgnorePrograms = s.nIgnorePrograms;
    std::strcpy(g_Logger.m_szServer, s.strServer.c_str());
    g_Logger.LocalLogging = false;
    g_Logger.ServerDelivery = false;
}

// Calls the parser on "qfnt" followed by the arguments.
bool Parse(const std::vector<std::string>& arguments, bool& bReset)
{
    std::vector<std::string> strings = { "qfnt" };
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& str : strings)
        argv.push_back(&str[0]);
    argv.push_back(nullptr);
    bReset = false;
    return ParseCommandLine(static_cast<int>(strings.size()), argv.data(), bReset, "QFClient");
}

// Makes a chain of folders of cName under strBase whose full path has
// exactly cch characters (at least two more than strBase).
std::string MakeFolderOfLength(const std::string& strBase, size_t cch, char cName)
{
    std::string strPath = strBase;
    while (strPath.size() < cch)
    {
        size_t cchLeft = cch - strPath.size();
        // Never leave a single character: a part needs its backslash too.
        size_t cchPart = cchLeft > 52 ? 50 : cchLeft - 1;
        strPath += "\\" + std::string(cchPart, cName);
        CreateDirectoryA(strPath.c_str(), nullptr);
    }
    return strPath;
}

class ClientSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ApplySettings(Settings());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, SETTINGS_KEY);
    }
    void TearDown() override
    {
        ApplySettings(Settings());
        RemoveServiceTraces("QFClient");
    }
};
}  // namespace

TEST(ClientCommandLine, ResultResetAndSettingsOfEachCommandLine)
{
    CTestFolder folder;
    const std::string strFolder = folder.Path();
    const std::string strFilters = folder.File("filters.txt");
    ASSERT_TRUE(WriteWholeFile(strFilters, "*.EXE\r\n"));
    // The longest folder whose "\Process.old.log" still fits a path, and one more.
    const std::string strFitting = MakeFolderOfLength(strFolder, 243, 'a');
    const std::string strTooLong = MakeFolderOfLength(strFolder, 244, 'b');
    ASSERT_EQ(243u, strFitting.size());
    ASSERT_TRUE(FileExists(strFitting));
    ASSERT_TRUE(FileExists(strTooLong));

    auto with = [](auto change) {
        Settings s;
        change(s);
        return s;
    };
    const Settings none;
    struct Case
    {
        std::vector<std::string> arguments;
        bool                     bResult;
        bool                     bReset;
        Settings                 expected;
    };
    const Case cases[] = {
        { {}, true, false, none },
        { { "-I", "-SERVER", "host", "-V", "-U" }, true, false, with([](Settings& s) { s.strServer = "host"; }) },
        { { "-IP", "-I" }, false, false, with([](Settings& s) { s.nIgnorePrograms = 1; }) },
        { { "-il" }, false, false, with([](Settings& s) { s.nIgnoreStartFinish = 1; }) },
        { { "-RESET", "-Server", "h" }, false, true, with([](Settings& s) { s.strServer = "h"; }) },
        { { "-ID", "-IP" }, false, false, with([](Settings& s) { s.strMachineID = "-IP"; }) },
        { { "-ID" }, false, false, none },
        { { "-?", "-ID", "x" }, false, false, none },
        { { "/?" }, false, false, none },
        { { "-LIMIT", "abc" }, false, false, with([](Settings& s) { s.dwLimit = 0; }) },
        { { "-limit", "-1" }, false, false, none },
        { { "-LIMIT" }, false, false, none },
        { { "-SERVER" }, false, false, none },
        { { "-SERVER", "h", "-xyz", "-ID", "m" }, false, false, with([](Settings& s) { s.strServer = "h"; }) },
        { { "-RESET", "-F" }, false, true, none },
        { { "-PATH", strFolder, "-f", strFilters }, false, false, with([&](Settings& s) {
              s.strLogFileFolder = strFolder;
              s.strFiltersPath = strFilters;
          }) },
        // -PATH wants an existing folder as typed, nothing else.
        { { "-PATH", strFolder + "\\" }, false, false, none },
        { { "-PATH", strFolder + "\\missing" }, false, false, none },
        { { "-PATH", strFilters }, false, false, none },
        { { "-PATH", strFolder.substr(0, strFolder.size() - 1) + "*" }, false, false, none },
        { { "-PATH" }, false, false, none },
        { { "-F", strFolder }, false, false, none },
        { { "-F", folder.File("missing.txt") }, false, false, none },
        // Values longer than their field are refused, never cut.
        { { "-PATH", strFitting }, false, false, with([&](Settings& s) { s.strLogFileFolder = strFitting; }) },
        { { "-PATH", strTooLong }, false, false, none },
        { { "-ID", std::string(129, 'm') }, false, false, with([](Settings& s) { s.strMachineID.assign(129, 'm'); }) },
        { { "-ID", std::string(130, 'm') }, false, false, none },
        { { "-SERVER", std::string(259, 's') }, true, false, with([](Settings& s) { s.strServer.assign(259, 's'); }) },
        { { "-SERVER", std::string(260, 's') }, false, false, none },
        { { "-F", std::string(300, 'f') }, false, false, none },
    };
    for (const Case& c : cases)
    {
        std::string strLine;
        for (const std::string& str : c.arguments)
            strLine += str.substr(0, 60) + " ";
        SCOPED_TRACE(strLine);
        ApplySettings(none);
        bool bReset = false;
        EXPECT_EQ(c.bResult, Parse(c.arguments, bReset));
        EXPECT_EQ(c.bReset, bReset);
        EXPECT_EQ(c.expected, CurrentSettings());
    }
    ApplySettings(none);
}

TEST(ClientCommandLine, LimitIsReadAsADecimalThirtyTwoBitPattern)
{
    const struct
    {
        const char* pszValue;
        DWORD       dwLimit;
    } cases[] = {
        { "12", 12 },         { "  +7kB", 7 },           { "\t-2", 0xFFFFFFFE },      { "-1", NO_LIMIT },
        { "abc", 0 },         { "", 0 },                 { "- 5", 0 },                { "4294967295", NO_LIMIT },
        { "4294967296", 0 },  { "2147483648", 0x80000000 }, { "007", 7 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.dwLimit, ParseLimit(c.pszValue)) << '"' << c.pszValue << '"';
}

TEST_F(ClientSettingsTest, OnInitReadsBackWhatWasSavedAndResetRemovesIt)
{
    CTestFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder.File("filters.txt"), "c:\\apps\\*\r\n"));
    Settings saved;
    saved.strLogFileFolder = folder.Path();
    saved.strFiltersPath = folder.File("filters.txt");
    saved.strMachineID = "WS-017";
    saved.dwLimit = 0;
    saved.nIgnoreStartFinish = 1;
    saved.nIgnorePrograms = 7;
    saved.strServer = "collector";
    char szOutputFolder[MAX_PATH] = "C:\\program folder";
    OutputFolder = szOutputFolder;

    CClientService service;
    ApplySettings(saved);
    service.SaveSettings();
    ApplySettings(Settings());
    EXPECT_TRUE(service.OnInit());
    EXPECT_EQ(saved, CurrentSettings());
    EXPECT_TRUE(g_Logger.LocalLogging);
    EXPECT_EQ(folder.Path(), szOutputFolder);

    // The defaults write nothing; the key stays and a reset deletes it.
    ApplySettings(Settings());
    service.ResetSettings();
    service.SaveSettings();
    HKEY hKeyRaw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &hKeyRaw));
    CRegKey hKey(hKeyRaw);
    DWORD dwValues = 99;
    RegQueryInfoKeyA(hKey.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &dwValues, nullptr, nullptr,
                     nullptr, nullptr);
    EXPECT_EQ(0u, dwValues);
    hKey.Close();
    service.ResetSettings();
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_QUERY_VALUE, &hKeyRaw));

    // Without a key the defaults stay, and the program folder stays the output folder.
    std::strcpy(szOutputFolder, "C:\\program folder");
    EXPECT_TRUE(service.OnInit());
    EXPECT_EQ(Settings(), CurrentSettings());
    EXPECT_FALSE(g_Logger.LocalLogging);
    EXPECT_STREQ("C:\\program folder", szOutputFolder);
    OutputFolder = nullptr;
}

TEST_F(ClientSettingsTest, OnInitTakesOnlyValuesThatFitTheirFieldAndType)
{
    HKEY hKeyRaw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &hKeyRaw, nullptr));
    CRegKey hKey(hKeyRaw);
    auto set = [&](const char* pszName, DWORD dwType, const std::string& strData) {
        RegSetValueExA(hKey.Get(), pszName, 0, dwType, reinterpret_cast<const BYTE*>(strData.data()),
                       static_cast<DWORD>(strData.size()));
    };
    const std::string strFolder(300, 'p');
    set("LogFileFolder", REG_SZ, strFolder + '\0');                   // longer than its field
    set("FiltersPath", REG_DWORD, std::string("\1\0\0\0", 4));         // another type
    set("MachineID", REG_SZ, std::string(130, 'm'));                   // fills the field, no terminator
    set("Limit", REG_SZ, std::string("5\0", 2));                       // a number stored as text
    set("IgnoreStartFinish", REG_BINARY, std::string("\1\0\0\0\0\0\0\0", 8));
    set("IgnorePrograms", REG_DWORD, std::string("\2\0\0\0", 4));
    set("Server", REG_SZ, "host");                                     // stored without its terminator
    hKey.Close();

    Settings before;
    before.strMachineID = "kept";
    ApplySettings(before);
    CClientService service;
    EXPECT_TRUE(service.OnInit());
    Settings expected = before;
    expected.nIgnorePrograms = 2;
    expected.strServer = "host";
    EXPECT_EQ(expected, CurrentSettings());
    EXPECT_EQ('\0', g_szMachineID[sizeof g_szMachineID - 1]);
    EXPECT_FALSE(g_Logger.LocalLogging);

    // The longest texts that fit are taken whole.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_SET_VALUE, &hKeyRaw));
    hKey.Reset(hKeyRaw);
    set("MachineID", REG_SZ, std::string(129, 'm') + '\0');
    set("Server", REG_SZ, std::string(259, 's'));
    hKey.Close();
    EXPECT_TRUE(service.OnInit());
    EXPECT_EQ(std::string(129, 'm'), CurrentSettings().strMachineID);
    EXPECT_EQ(std::string(259, 's'), CurrentSettings().strServer);
}

TEST(ClientRun, StopEndsTheLoopWhenEverItComes)
{
    CTestFolder folder;
    char szOutputFolder[MAX_PATH] = "";
    std::strcpy(szOutputFolder, folder.Path().c_str());
    OutputFolder = szOutputFolder;
    ApplySettings(Settings());

    struct Case
    {
        const char* pszWhen;
        bool        bBeforeRun;
    };
    const Case cases[] = { { "before Run made its event", true }, { "while the loop waits", false } };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszWhen);
        CClientService service;
        EXPECT_EQ(nullptr, g_hStopEvent);
        if (c.bBeforeRun)
            service.OnStop();
        std::thread run([&] { service.Run(); });
        if (!c.bBeforeRun)
        {
            while (!g_hStopEvent)
                Sleep(10);
            service.OnShutdown();
        }
        run.join();
        // Run has closed its event and left nothing for a late hook to signal.
        EXPECT_EQ(nullptr, g_hStopEvent);
        EXPECT_EQ(nullptr, g_hTickTimer);
        service.OnStop();
        EXPECT_TRUE(g_Logger.LocalLogging);
        EXPECT_FALSE(g_Logger.ServerDelivery);
        g_Logger.Close();
    }
    OutputFolder = nullptr;
}
