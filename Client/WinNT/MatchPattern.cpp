// STUB: replaced by the matcher.
#include "Client/WinNT/MatchPattern.h"

bool MatchPattern(const char*, const char*) { return false; }
