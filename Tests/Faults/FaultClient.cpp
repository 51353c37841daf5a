// A client for the fault cases: the client's own logger, driven faster than
// the run loop would. It queues numbered records, starts delivery to the
// server on 127.0.0.1 (loading the folder's buffer.dat first), requests
// delivery passes at a fixed interval, and reports its state in a file.
//   FaultClient.exe <folder> <tag> <first> <count> <passes> <interval ms> <add> <mode>
// After the passes and once the queue has settled it queues <add> more
// records. Mode "drain" then goes on requesting passes until the queue is
// empty and buffer.dat is gone (exit 0; 3 when two minutes pass first);
// "exit" returns at once; "hang" waits to be killed (two minutes at most).
// Returning from main runs the logger's last pass and spills what is left.
#include "Benchmarks/Support/Measure.h"

#include "Client/WinNT/Logger.h"
#include "Common/Text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
char g_szFolder[MAX_PATH];
std::string g_strStatusPath;
DWORD g_nEnqueued = 0;
DWORD g_nPasses = 0;

void WriteStatus(int nDone)
{
    char szStatus[128];
    snprintf(szStatus, sizeof(szStatus), "enqueued=%lu queued=%u passes=%lu done=%d\n",
             static_cast<unsigned long>(g_nEnqueued), g_Logger.m_Queue.GetCount(),
             static_cast<unsigned long>(g_nPasses), nDone);
    std::string strTemp = g_strStatusPath + ".tmp";
    FILE* pFile = fopen(strTemp.c_str(), "wb");
    if (!pFile)
        return;
    fputs(szStatus, pFile);
    fclose(pFile);
    MoveFileExA(strTemp.c_str(), g_strStatusPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void Enqueue(const char* pszTag, DWORD nFirst, DWORD nCount)
{
    for (DWORD i = 0; i < nCount; ++i)
    {
        EventRecord record = MakeLoadRecord(pszTag, nFirst + i);
        g_Logger.Enqueue(&record);
        ++g_nEnqueued;
    }
}

void RequestPass()
{
    if (g_hSenderWakeup)
        SetEvent(g_hSenderWakeup);
    ++g_nPasses;
}

// Waits until the queue's count has not changed for a second: a pass that
// delivers removes a record every 300 ms, a failed pass ends at once.
void WaitUntilSettled()
{
    UINT nLast = g_Logger.m_Queue.GetCount();
    DWORD dwStable = GetTickCount();
    DWORD dwStart = dwStable;
    while (GetTickCount() - dwStable < 1000 && GetTickCount() - dwStart < 60000)
    {
        Sleep(50);
        UINT nNow = g_Logger.m_Queue.GetCount();
        if (nNow != nLast)
        {
            nLast = nNow;
            dwStable = GetTickCount();
        }
    }
}
}  // namespace

int main(int argc, char* argv[])
{
    if (argc < 9)
    {
        fprintf(stderr, "usage: FaultClient <folder> <tag> <first> <count> <passes> <interval ms> <add> <mode>\n");
        return 2;
    }
    CopyText(g_szFolder, argv[1]);
    const char* pszTag = argv[2];
    DWORD nFirst = strtoul(argv[3], nullptr, 10);
    DWORD nCount = strtoul(argv[4], nullptr, 10);
    DWORD nPasses = strtoul(argv[5], nullptr, 10);
    DWORD dwInterval = strtoul(argv[6], nullptr, 10);
    DWORD nAdd = strtoul(argv[7], nullptr, 10);
    std::string strMode = argv[8];
    g_strStatusPath = std::string(g_szFolder) + "\\" + pszTag + ".status";

    OutputFolder = g_szFolder;
    g_Logger.ServerDelivery = true;
    CopyText(g_Logger.m_szServer, "127.0.0.1");
    Enqueue(pszTag, nFirst, nCount);
    // Loads buffer.dat ahead of the queue and makes the first pass at once.
    g_Logger.SetPaths("Process.log", "\\Process.old.log", "\\buffer.dat");
    WriteStatus(0);

    for (DWORD i = 0; i < nPasses; ++i)
    {
        Sleep(dwInterval);
        RequestPass();
        WriteStatus(0);
    }
    WaitUntilSettled();
    Enqueue(pszTag, nFirst + nCount, nAdd);
    WriteStatus(strMode == "drain" ? 0 : 1);

    DWORD dwStart = GetTickCount();
    std::string strBuffer = std::string(g_szFolder) + "\\buffer.dat";
    if (strMode == "drain")
    {
        while (g_Logger.m_Queue.GetCount() > 0 || GetFileAttributesA(strBuffer.c_str()) != INVALID_FILE_ATTRIBUTES)
        {
            if (GetTickCount() - dwStart > 120000)
                return 3;
            Sleep(dwInterval);
            RequestPass();
            WriteStatus(0);
        }
        WriteStatus(1);
    }
    else if (strMode == "hang")
    {
        Sleep(120000);
    }
    return 0;
}
