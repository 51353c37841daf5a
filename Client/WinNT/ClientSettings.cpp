#include "Client/WinNT/ClientSettings.h"

#include "Client/WinNT/Logger.h"
#include "Common/Handles.h"
#include "Common/Records/EventRecord.h"
#include "Common/Text.h"

#include <cstring>
#include <iostream>

char g_szLogFileFolder[MAX_PATH] = "";
char g_szFiltersPath[MAX_PATH] = "";

namespace
{
const char HELP_TEXT[] =
    "Quillfen v.1.5\n"
    "\n"
    "Usage: qfnt [-I] [-V] [-U] [-SERVER <server>] [-PATH <log file folder>] [-F <filters file>] "
    "[-LIMIT <limit>] [-ID <id>] [-IP] [-IL] [-RESET] [-?]\n"
    "\n"
    "-I - install the service.\n"
    "-V - report the name and version number of the service.\n"
    "-U - remove the service.\n"
    "-SERVER - enables log delivery to server; set IP address or host name of server where QFServer is "
    "running (set this to \".\" if QFServer is running on a local machine).\n"
    "-PATH - enables logging to a local file; set path to an existing folder to place logs there; the "
    "default path is folder of the program.\n"
    "-F - set path to the filters file.\n"
    "-LIMIT - set the limit of local log file size in kB; the default limit is infinite.\n"
    "-ID - set alternative identifier of local machine in log file.\n"
    "-IP - do not log programs.\n"
    "-IL - do not log when the logging has been started and finished.\n"
    "-RESET - reset all previous settings.\n"
    "-? - display help on options.\n";

const char PATH_ERROR[] =
    "Error in program's command line: path after -PATH option must point to an existing folder.";
const char FILTERS_ERROR[] =
    "Error in program's command line: path after -F option must point to the existing file";
const char ID_ERROR[] = "Error in program's command line: -ID option has an invalid parameter";
const char LIMIT_ERROR[] = "Error in program's command line: -LIMIT option has an invalid parameter";
const char SERVER_ERROR[] = "Error in program's command line: -SERVER option should have a parameter";

bool IsOption(const char* pszArgument, const char* pszOption)
{
    return _stricmp(pszArgument, pszOption) == 0;
}

// True when the text, with its terminator, fits a field of cbField bytes.
bool FitsField(const char* pszValue, size_t cbField)
{
    return BoundedLength(pszValue, cbField) < cbField;
}

// A folder as typed: found by the file search (so a trailing backslash or a
// bare drive root fails), a folder rather than a file, and no wildcard that
// would let the search find some other entry.
bool IsExistingFolder(const char* pszPath)
{
    if (std::strpbrk(pszPath, "*?"))
        return false;
    WIN32_FIND_DATAA fd;
    CFindHandle hFind(FindFirstFileA(pszPath, &fd));
    return hFind.IsValid() && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsReadableFile(const char* pszPath)
{
    CFileHandle hFile(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return hFile.IsValid();
}

// Every console message ends with a line feed and a flush.
void WriteLine(std::ostream& stream, const char* pszText)
{
    stream << pszText << '\n' << std::flush;
}
}  // namespace

DWORD ParseLimit(const char* pszValue)
{
    const char* p = pszValue;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-')
        bNegative = *p++ == '-';
    // Unsigned arithmetic wraps, so every value has a defined 32-bit pattern.
    DWORD dwValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        dwValue = dwValue * 10 + static_cast<DWORD>(*p - '0');
    return bNegative ? 0u - dwValue : dwValue;
}

bool ParseCommandLine(int argc, char* argv[], bool& bReset, const char* pszServiceName)
{
    if (argc < 2)
    {
        std::cout << "Warning: at least one parameter required. If you want to run this service, login as "
                     "administrator and type the following in command prompt: net start \""
                  << pszServiceName << "\". Or type -? to get help on parameters\n"
                  << std::flush;
        return true;
    }

    bool bResult = true;
    for (int i = 1; i < argc; ++i)
    {
        const char* pszArgument = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;

        if (IsOption(pszArgument, "-?") || IsOption(pszArgument, "/?"))
        {
            std::cout << HELP_TEXT << std::flush;
            return false;
        }
        else if (IsOption(pszArgument, "-PATH"))
        {
            if (!pszValue || BoundedLength(pszValue, MAX_LOG_FOLDER_LENGTH + 1) > MAX_LOG_FOLDER_LENGTH ||
                !IsExistingFolder(pszValue))
            {
                WriteLine(std::cerr, PATH_ERROR);
                return false;
            }
            CopyText(g_szLogFileFolder, pszValue);
            bResult = false;
            ++i;
        }
        else if (IsOption(pszArgument, "-F"))
        {
            if (!pszValue || !FitsField(pszValue, sizeof g_szFiltersPath) || !IsReadableFile(pszValue))
            {
                WriteLine(std::cerr, FILTERS_ERROR);
                return false;
            }
            CopyText(g_szFiltersPath, pszValue);
            bResult = false;
            ++i;
        }
        else if (IsOption(pszArgument, "-ID"))
        {
            if (!pszValue || !FitsField(pszValue, sizeof g_szMachineID))
            {
                WriteLine(std::cerr, ID_ERROR);
                return false;
            }
            CopyText(g_szMachineID, pszValue);
            bResult = false;
            ++i;
        }
        else if (IsOption(pszArgument, "-LIMIT"))
        {
            if (!pszValue)
            {
                WriteLine(std::cerr, LIMIT_ERROR);
                return false;
            }
            g_Logger.m_dwLimit = ParseLimit(pszValue);
            bResult = false;
            ++i;
        }
        else if (IsOption(pszArgument, "-IP"))
        {
            g_Logger.m_nIgnorePrograms = 1;
            bResult = false;
        }
        else if (IsOption(pszArgument, "-IL"))
        {
            g_Logger.m_nIgnoreStartFinish = 1;
            bResult = false;
        }
        else if (IsOption(pszArgument, "-SERVER"))
        {
            if (!pszValue || !FitsField(pszValue, sizeof g_Logger.m_szServer))
            {
                WriteLine(std::cerr, SERVER_ERROR);
                return false;
            }
            CopyText(g_Logger.m_szServer, pszValue);
            ++i;
        }
        else if (IsOption(pszArgument, "-RESET"))
        {
            bReset = true;
            bResult = false;
        }
        else if (IsOption(pszArgument, "-I") || IsOption(pszArgument, "-V") || IsOption(pszArgument, "-U"))
        {
            // Service verbs: HandleServiceVerb acts on them in first place only.
        }
        else
        {
            std::cerr << "Error in program's command line: unknown parameter \"" << pszArgument
                      << "\". Type -? to get help on parameters\n"
                      << std::flush;
            return false;
        }
    }
    return bResult;
}
