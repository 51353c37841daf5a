// Append-only log file with a size limit in kB and one older generation.
#pragma once

#include "Common/Records/EventRecord.h"

// The size limit value meaning "never rotate"; also typed as -1.
constexpr DWORD NO_LIMIT = 0xFFFFFFFF;

// The folder that holds Process.log, Process.old.log and buffer.dat: the
// client's program folder or its LogFileFolder setting. Owned by main; null
// or empty until main has set it.
extern char* OutputFolder;

class CLogFile
{
public:
    CLogFile();
    virtual ~CLogFile();

    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Builds both paths under OutputFolder (the suffix carries its own leading
    // backslash) and opens the log for appending through the virtual Open.
    // A folder whose paths would not fit leaves both paths empty and the log closed.
    virtual void SetPaths(const char* pszFileName, const char* pszOldSuffix);

    // Opens the log (truncated when bTruncate is set) and moves to its end.
    virtual void Open(bool bTruncate);

    // Writes the record as one line, rotating first when the limit is reached
    // (a failed copy to the older generation leaves the log to grow instead).
    // A failed write is tried once more on a reopened file.
    virtual bool WriteRecord(const EventRecord* pRecord);

    // Closes the log when it is open.
    virtual void Close();

    // Whether rotation copies the log to the older generation before emptying it.
    virtual bool KeepOldCopy();

private:
    bool LimitReached() const;
    // Appends one whole line, or nothing: a write that fails part-way is cut off.
    bool WriteLine(const char* pszLine, DWORD cbLine);
    void Rotate();

public:
    char   m_szLogPath[MAX_PATH];
    char   m_szOldLogPath[MAX_PATH];
    HANDLE m_hFile;
    DWORD  m_dwLimit;  // kB; NO_LIMIT means no limit
};
