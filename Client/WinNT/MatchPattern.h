// The wildcard matcher of the filters file.
#pragma once

// True when the whole text matches the whole pattern, compared as bytes with
// no escape character. "*" matches any run (the empty one too), "?" any one
// character, "[set]" and "[^set]" one character in or not in the set: a "]"
// in first place is a member, x-y is a range compared as signed bytes, a "-"
// before the closing "]" is itself, and a "[" that is never closed is an
// ordinary character. Time is bounded by pattern length times text length.
bool MatchPattern(const char* pszPattern, const char* pszText);
