#include "Server/ServerSettings.h"

#include "Common/Records/LogFile.h"
#include "Common/Text.h"

ServerSettings g_ServerSettings = { "", NO_LIMIT };

void BuildParametersKeyPath(const char* pszServiceName, char (&szKeyPath)[MAX_PATH])
{
    CopyText(szKeyPath, "SYSTEM\\CurrentControlSet\\Services");
    AppendText(szKeyPath, "\\");
    AppendText(szKeyPath, pszServiceName);
    AppendText(szKeyPath, "\\Parameters");
}
