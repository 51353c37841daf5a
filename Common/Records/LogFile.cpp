#include "Common/Records/LogFile.h"

#include "Common/Records/EventLine.h"
#include "Common/Text.h"

char* OutputFolder = nullptr;

CLogFile::CLogFile() : m_szLogPath{}, m_szOldLogPath{}, m_hFile(INVALID_HANDLE_VALUE), m_dwLimit(NO_LIMIT) {}

CLogFile::~CLogFile()
{
    CLogFile::Close();
}

void CLogFile::SetPaths(const char* pszFileName, const char* pszOldSuffix)
{
    const char* pszFolder = OutputFolder ? OutputFolder : "";
    // A path that would be cut names another file: rather leave the log unopened.
    bool bFits = CopyText(m_szLogPath, pszFolder) && AppendText(m_szLogPath, "\\") &&
                 AppendText(m_szLogPath, pszFileName) && CopyText(m_szOldLogPath, pszFolder) &&
                 AppendText(m_szOldLogPath, pszOldSuffix);
    if (!bFits)
    {
        m_szLogPath[0] = '\0';
        m_szOldLogPath[0] = '\0';
    }
    Open(false);
}

void CLogFile::Open(bool bTruncate)
{
    CLogFile::Close();
    if (m_szLogPath[0] == '\0')
        return;
    // Readers may look at the log while it is written; nobody else may write or delete it.
    m_hFile = CreateFileA(m_szLogPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          bTruncate ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile != INVALID_HANDLE_VALUE)
        SetFilePointer(m_hFile, 0, nullptr, FILE_END);
}

bool CLogFile::WriteRecord(const EventRecord* pRecord)
{
    char szLine[EVENT_LINE_SIZE] = {};
    FormatEventLine(pRecord, szLine);
    DWORD cbLine = static_cast<DWORD>(BoundedLength(szLine, sizeof(szLine)));
    if (cbLine == 0 || m_szLogPath[0] == '\0')
        return false;

    if (LimitReached())
        Rotate();

    if (WriteLine(szLine, cbLine))
        return true;

    // The handle may have gone bad (or never opened): one more try on a fresh one.
    CLogFile::Close();
    CLogFile::Open(false);
    return WriteLine(szLine, cbLine);
}

bool CLogFile::WriteLine(const char* pszLine, DWORD cbLine)
{
    LARGE_INTEGER liEnd = {};
    const LARGE_INTEGER liZero = {};
    if (!SetFilePointerEx(m_hFile, liZero, &liEnd, FILE_END))
        return false;
    DWORD cbWritten = 0;
    if (WriteFile(m_hFile, pszLine, cbLine, &cbWritten, nullptr) && cbWritten == cbLine)
        return true;
    // A part of the line left behind (a full disk) would glue the next line to
    // it: cut the file back to where this line began.
    SetFilePointerEx(m_hFile, liEnd, nullptr, FILE_BEGIN);
    SetEndOfFile(m_hFile);
    return false;
}

void CLogFile::Close()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
}

bool CLogFile::KeepOldCopy()
{
    return true;
}

bool CLogFile::LimitReached() const
{
    if (m_dwLimit == NO_LIMIT)
        return false;
    // In 64 bits, so that limits of 4 GB and more are honoured rather than wrapped.
    LARGE_INTEGER liSize;
    if (!GetFileSizeEx(m_hFile, &liSize))
        return true;  // an unreadable size counts as full
    return static_cast<ULONGLONG>(liSize.QuadPart) >= static_cast<ULONGLONG>(m_dwLimit) * 1024;
}

void CLogFile::Rotate()
{
    // The log is closed for the copy: Windows refuses to copy a file that is
    // held open for writing.
    CLogFile::Close();
    // Without its copy the current generation would be lost: keep appending to
    // it, and the test before the next line tries the rotation again.
    bool bTruncate = !KeepOldCopy() || CopyFileA(m_szLogPath, m_szOldLogPath, FALSE);
    CLogFile::Open(bTruncate);
}
