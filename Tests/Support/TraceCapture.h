// Captures the debugger output of the running test process. OutputDebugStringA
// raises DBG_PRINTEXCEPTION_C before it looks for a debugger; a vectored
// handler sees it, on Windows and under Wine alike.
#pragma once

#include <string>
#include <vector>

class CTraceCapture
{
public:
    CTraceCapture();
    ~CTraceCapture();

    CTraceCapture(const CTraceCapture&) = delete;
    CTraceCapture& operator=(const CTraceCapture&) = delete;

    // Every string passed to OutputDebugStringA since construction, in order.
    std::vector<std::string> Lines() const;
    void Clear();
};
