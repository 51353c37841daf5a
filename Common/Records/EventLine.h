// The log line: one comma-separated line ending in CR LF per EventRecord,
// the format of every Process.log that either program writes.
#pragma once

#include "Common/Records/EventRecord.h"

// The line buffer: twice the record, far above the longest possible line.
constexpr size_t EVENT_LINE_SIZE = 1568;

// The process-wide platform id (1 = Windows 9x, 2 = NT), set once at start-up.
// Process ids are rendered in upper-case hexadecimal on 1, signed decimal otherwise.
extern DWORD g_dwPlatformId;

// Renders the record into pszLine (EVENT_LINE_SIZE bytes) as one line ending
// in CR LF, replacing its content. Text fields are read within their field
// sizes only. Without a record the line is empty.
void FormatEventLine(const EventRecord* pRecord, char* pszLine);

// Appends one field by the quoting rule: enclosed in double quotes when
// bForce is set, the text is empty, or it holds a blank, comma, tab, CR or
// LF. CR and LF are written as blanks, so a field never breaks the line;
// nothing else is escaped.
void AppendField(char* pszLine, size_t cchLine, const char* pszField, bool bForce);
