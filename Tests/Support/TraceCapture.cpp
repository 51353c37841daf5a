#include "Tests/Support/TraceCapture.h"

#include "Common/Win32.h"

#include <mutex>

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006
#endif

namespace
{
std::mutex g_mutex;
std::vector<std::string> g_lines;
PVOID g_pHandler = nullptr;

LONG CALLBACK CaptureDebugString(PEXCEPTION_POINTERS pInfo)
{
    const EXCEPTION_RECORD* pRecord = pInfo->ExceptionRecord;
    if (pRecord->ExceptionCode == DBG_PRINTEXCEPTION_C && pRecord->NumberParameters >= 2)
    {
        size_t cch = static_cast<size_t>(pRecord->ExceptionInformation[0]);
        const char* psz = reinterpret_cast<const char*>(pRecord->ExceptionInformation[1]);
        std::string strLine(psz, cch ? cch - 1 : 0);  // the count includes the terminator
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lines.push_back(strLine);
        // Handled: no debugger will be looked for.
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

CTraceCapture::CTraceCapture()
{
    Clear();
    g_pHandler = AddVectoredExceptionHandler(1, CaptureDebugString);
}

CTraceCapture::~CTraceCapture()
{
    if (g_pHandler)
        RemoveVectoredExceptionHandler(g_pHandler);
    g_pHandler = nullptr;
}

std::vector<std::string> CTraceCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_lines;
}

void CTraceCapture::Clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.clear();
}
