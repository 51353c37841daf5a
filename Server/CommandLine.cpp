#include "Server/CommandLine.h"

#include "Common/Handles.h"
#include "Common/Text.h"
#include "Server/ServerSettings.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace
{
const char g_szUsage[] =
    "Quillfen v.1.5\n"
    "\n"
    "Usage: QFServer [-I] [-V] [-U] [-PATH <log folder>] [-LIMIT <limit>] [-RESET] [-?]\n"
    "\n"
    "-I - install the service.\n"
    "-V - report the name and version number of the service.\n"
    "-U - remove the service.\n"
    "-PATH - set path to an existing folder to place logs there; the default path is current folder.\n"
    "-LIMIT - set the limit of log size in kB; the default limit is infinite.\n"
    "-RESET - reset all previous settings.\n"
    "-? - display help on options.\n";

const char g_szPathError[] =
    "Error in program's command line: path after -PATH option must point to an existing folder.\n";
const char g_szPathTooLong[] =
    "Error in program's command line: path after -PATH option is longer than 243 characters.\n";
const char g_szLimitError[] = "Error in program's command line: -LIMIT option should have a parameter.\n";
const char g_szLineTooLong[] =
    "Error in program's command line: the command line is longer than 259 characters; nothing was changed.\n";

void Print(FILE* pStream, const char* pszText)
{
    std::fputs(pszText, pStream);
    std::fflush(pStream);
}

bool IsBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

// Cuts the next blank-separated token out of the work copy: quotes mean
// nothing in option names.
bool NextToken(char*& pszPos, char (&szToken)[MAX_PATH])
{
    szToken[0] = '\0';
    while (IsBlank(*pszPos))
        ++pszPos;
    if (*pszPos == '\0')
        return false;
    char* pszStart = pszPos;
    while (*pszPos != '\0' && !IsBlank(*pszPos))
        ++pszPos;
    if (*pszPos != '\0')
        *pszPos++ = '\0';
    CopyText(szToken, pszStart);
    return true;
}

void TrimTrailingBlanks(char* pszText)
{
    size_t cch = std::strlen(pszText);
    while (cch > 0 && IsBlank(pszText[cch - 1]))
        pszText[--cch] = '\0';
}

// An existing folder: the directory search must find the name itself, so
// wildcards and plain files are refused as well.
bool IsExistingFolder(const char* pszPath)
{
    if (pszPath[0] == '\0' || std::strpbrk(pszPath, "*?") != nullptr)
        return false;
    WIN32_FIND_DATAA fd;
    CFindHandle hFind(FindFirstFileA(pszPath, &fd));
    return hFind.IsValid() && (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

enum class OptionResult
{
    Changed,   // a setting was taken; parsing goes on
    Stop,      // an error or the usage text; what was taken so far stays
    Refuse,    // the whole line is refused
};

OptionResult TakePath(char*& pszPos)
{
    char szValue[MAX_PATH];
    if (!GetNextArg(pszPos, szValue))
    {
        Print(stderr, g_szPathError);
        return OptionResult::Stop;
    }
    TrimTrailingBlanks(szValue);
    if (std::strlen(szValue) > MAX_LOG_FOLDER)
    {
        Print(stderr, g_szPathTooLong);
        return OptionResult::Refuse;
    }
    if (!IsExistingFolder(szValue))
    {
        Print(stderr, g_szPathError);
        return OptionResult::Stop;
    }
    CopyText(g_ServerSettings.LogFileFolder, szValue);
    return OptionResult::Changed;
}

OptionResult TakeLimit(char*& pszPos)
{
    char szValue[MAX_PATH];
    // A limit beyond the signed 32-bit range is refused like one of 0 or less:
    // it is a typing error, not a size anybody means.
    long long nLimit = GetNextArg(pszPos, szValue) ? ReadDecimal(szValue) : 0;
    if (nLimit <= 0 || nLimit > INT_MAX)
    {
        Print(stderr, g_szLimitError);
        return OptionResult::Stop;
    }
    g_ServerSettings.Limit = static_cast<DWORD>(nLimit);
    return OptionResult::Changed;
}

void PrintUnknownOption(const char* pszToken)
{
    std::fprintf(stderr,
                 "Error in program's command line: unknown parameter \"%s\". Type -? to get help on parameters\n",
                 pszToken);
    std::fflush(stderr);
}
}  // namespace

void JoinArguments(int argc, char* argv[], char (&szLine)[JOINED_LINE_SIZE])
{
    std::memset(szLine, 0, sizeof(szLine));
    for (int i = 1; i < argc; ++i)
    {
        AppendText(szLine, argv[i]);
        AppendText(szLine, " ");
    }
}

int ParseCommandLine(const char* pszLine, DWORD& dwReset, const char* pszServiceName)
{
    if (pszLine == nullptr || pszLine[0] == '\0')
    {
        std::fprintf(stdout,
                     "Warning: at least one parameter required. If you want to run this service, login as "
                     "administrator and type the following in command prompt: net start \"%s\". Or type -? to get "
                     "help on parameters\n",
                     pszServiceName);
        std::fflush(stdout);
        return 1;
    }

    char szWork[MAX_PATH];
    if (!CopyText(szWork, pszLine))
    {
        Print(stderr, g_szLineTooLong);
        return 0;
    }

    // Kept to undo the line's settings if it turns out to be refused.
    const ServerSettings savedSettings = g_ServerSettings;
    const DWORD dwSavedReset = dwReset;

    int nResult = 1;
    char* pszPos = szWork;
    char szToken[MAX_PATH];
    while (NextToken(pszPos, szToken))
    {
        if (lstrcmpiA(szToken, "-?") == 0 || lstrcmpiA(szToken, "/?") == 0)
        {
            Print(stdout, g_szUsage);
            return 0;
        }
        if (lstrcmpiA(szToken, "-I") == 0 || lstrcmpiA(szToken, "-V") == 0 || lstrcmpiA(szToken, "-U") == 0)
            continue;  // the verbs are acted on by main, and only in first place

        OptionResult result = OptionResult::Changed;
        if (lstrcmpiA(szToken, "-PATH") == 0)
            result = TakePath(pszPos);
        else if (lstrcmpiA(szToken, "-LIMIT") == 0)
            result = TakeLimit(pszPos);
        else if (lstrcmpiA(szToken, "-RESET") == 0)
            dwReset = 1;
        else
        {
            PrintUnknownOption(szToken);
            return 0;
        }

        if (result == OptionResult::Stop)
            return 0;
        if (result == OptionResult::Refuse)
        {
            g_ServerSettings = savedSettings;
            dwReset = dwSavedReset;
            return 0;
        }
        nResult = 0;
    }
    return nResult;
}

int GetNextArg(char*& pszPos, char* pszValue)
{
    if (pszPos == nullptr || pszValue == nullptr)
        return 0;

    enum { OUTSIDE, IN_DOUBLE, IN_SINGLE } state = OUTSIDE;
    size_t cchValue = 0;
    while (IsBlank(*pszPos))
        ++pszPos;
    for (; *pszPos != '\0'; ++pszPos)
    {
        char ch = *pszPos;
        if (state == OUTSIDE)
        {
            if (IsBlank(ch))
                break;  // the read position stays on the blank
            if (ch == '"')
            {
                state = IN_DOUBLE;
                continue;
            }
            if (ch == '\'')
            {
                state = IN_SINGLE;
                continue;
            }
        }
        else if (state == IN_DOUBLE && ch == '"')
        {
            state = OUTSIDE;
            continue;
        }
        else if (state == IN_SINGLE && (ch == '\'' || ch == '"'))
        {
            state = OUTSIDE;
            continue;
        }
        // Characters past the buffer are read over but dropped.
        if (cchValue < MAX_PATH - 1)
            pszValue[cchValue++] = ch;
    }
    pszValue[cchValue] = '\0';
    return cchValue > 0 ? 1 : 0;
}

long long ReadDecimal(const char* pszText)
{
    while (IsBlank(*pszText))
        ++pszText;
    bool bNegative = false;
    if (*pszText == '+' || *pszText == '-')
        bNegative = *pszText++ == '-';
    long long nValue = 0;
    for (; *pszText >= '0' && *pszText <= '9'; ++pszText)
    {
        int nDigit = *pszText - '0';
        if (nValue > (LLONG_MAX - nDigit) / 10)
            return bNegative ? LLONG_MIN : LLONG_MAX;
        nValue = nValue * 10 + nDigit;
    }
    return bNegative ? -nValue : nValue;
}
