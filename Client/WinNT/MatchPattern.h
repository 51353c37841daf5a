// The wildcard matcher of the filters file.
#pragma once

// True when the whole text matches the whole pattern. "*" matches any run,
// "?" any one character, "[set]" and "[^set]" a character in or not in the
// set (ranges x-y compare as signed bytes); everything else itself.
bool MatchPattern(const char* pszPattern, const char* pszText);
