// Small helpers for tests that drive local CLogger objects.
#pragma once

#include "Client/WinNT/Logger.h"
#include "Common/Records/LogFile.h"
#include "Common/Text.h"

#include <cstring>
#include <string>

// Points OutputFolder, which the logger builds its paths from, at strFolder.
inline void UseOutputFolder(const std::string& strFolder)
{
    static char s_szFolder[MAX_PATH];
    CopyText(s_szFolder, strFolder.c_str());
    OutputFolder = s_szFolder;
}

// A record that tells itself apart by its program path and process id.
inline EventRecord MakeRecord(const char* pszProgram, DWORD dwProcessId)
{
    EventRecord record;
    BuildEventRecord(&record, "Tracked", EVENT_TRACKED, "tester");
    CopyText(record.szProgram, pszProgram);
    record.dwProcessId = dwProcessId;
    return record;
}

inline std::string RecordBytes(const EventRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof(record));
}
