// Building records field by field for the record and log tests.
#pragma once

#include "Common/Records/EventRecord.h"
#include "Common/Text.h"

#include <cstring>

// The fields of one record; texts are copied cut to their fields.
struct RecordFields
{
    const char* pszDateTime;
    const char* pszMachine;
    const char* pszUser;
    int32_t     nType;
    const char* pszEvent;
    const char* pszProgram = "";
    DWORD       dwProcessId = 0;
    const char* pszDuration = "";
    const char* pszCpuTime = "";
    BYTE        bActivity = 0;
};

inline EventRecord MakeRecord(const RecordFields& fields)
{
    EventRecord record;
    std::memset(&record, 0, sizeof(record));
    CopyText(record.szDateTime, fields.pszDateTime);
    CopyText(record.szMachine, fields.pszMachine);
    CopyText(record.szUser, fields.pszUser);
    record.nType = fields.nType;
    CopyText(record.szEvent, fields.pszEvent);
    CopyText(record.szProgram, fields.pszProgram);
    record.dwProcessId = fields.dwProcessId;
    CopyText(record.szDuration, fields.pszDuration);
    CopyText(record.szCpuTime, fields.pszCpuTime);
    record.bActivity = fields.bActivity;
    return record;
}
