// The 784-byte event record: the in-memory record, the TCP message between
// client and server and the element of buffer.dat are all this one image.
#pragma once

#include "Common/Win32.h"

#include <cstddef>
#include <cstdint>

// Event codes carried in EventRecord::nType.
enum EventType : int32_t
{
    EVENT_LOGGING_STARTED = 10,
    EVENT_LOGGING_STOPPED = 20,
    EVENT_TRACKED         = 30,
    EVENT_FINISHED        = 40,
    EVENT_RESERVED_50     = 50,  // no producer; still rendered
    EVENT_RESERVED_60     = 60,  // no producer; still rendered
    EVENT_SERVER_STARTED  = 90,
    EVENT_SERVER_STOPPED  = 100,
};

// Share of foreground ticks when none could be computed.
constexpr BYTE NO_ACTIVITY = 255;

#pragma pack(push, 1)
struct EventRecord
{
    char    szDateTime[64];   // DD/MM/YYYY HH:MM:SS, local time of building
    char    szMachine[128];   // MachineID setting, else the computer name
    char    szUser[128];      // the producer's user name, else the account's
    int32_t nType;            // EventType
    char    szEvent[128];     // event text
    char    szProgram[260];   // program path (Tracked, Finished)
    DWORD   dwProcessId;      // (Tracked, Finished)
    char    szDuration[32];   // HH:MM:SS run time (Finished)
    char    szCpuTime[32];    // HH:MM:SS CPU time, empty when unknown (Finished)
    BYTE    bActivity;        // percent of ticks in the foreground, NO_ACTIVITY (Finished)
    BYTE    bReserved[3];     // always zero
};
#pragma pack(pop)

constexpr size_t EVENT_RECORD_SIZE = 784;

static_assert(sizeof(EventRecord) == EVENT_RECORD_SIZE, "the record is 784 bytes on disk and wire");
static_assert(offsetof(EventRecord, szDateTime)  == 0,   "record layout");
static_assert(offsetof(EventRecord, szMachine)   == 64,  "record layout");
static_assert(offsetof(EventRecord, szUser)      == 192, "record layout");
static_assert(offsetof(EventRecord, nType)       == 320, "record layout");
static_assert(offsetof(EventRecord, szEvent)     == 324, "record layout");
static_assert(offsetof(EventRecord, szProgram)   == 452, "record layout");
static_assert(offsetof(EventRecord, dwProcessId) == 712, "record layout");
static_assert(offsetof(EventRecord, szDuration)  == 716, "record layout");
static_assert(offsetof(EventRecord, szCpuTime)   == 748, "record layout");
static_assert(offsetof(EventRecord, bActivity)   == 780, "record layout");
static_assert(offsetof(EventRecord, bReserved)   == 781, "record layout");

// The MachineID setting (at most 129 characters). The client fills it from
// its settings; the server leaves it empty, so its records name the computer.
extern char g_szMachineID[130];

// Fills the common fields: zeroes the whole record, then date and time,
// machine, user (pszUser when non-empty, else the calling thread's account),
// the event text and the type. Every text is cut to its field less one.
void BuildEventRecord(EventRecord* pRecord, const char* pszEvent, int32_t nType, const char* pszUser);

// Writes DD/MM/YYYY HH:MM:SS for st into pszOut (at least 20 bytes).
void FormatDateTime(const SYSTEMTIME& st, char* pszOut, size_t cchOut);

// Appends n in decimal, with a leading "0" below 10.
void AppendTwoDigits(char* pszOut, size_t cchOut, int32_t n);
