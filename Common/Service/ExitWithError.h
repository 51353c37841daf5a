// The fatal exit of both programs.
#pragma once

// Writes "Error: <last error> Reason: <reason>" to standard error and ends
// the process with exit status 1, running the process-wide destructors.
[[noreturn]] void ExitWithError(const char* pszReason);
