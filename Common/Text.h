// Length-checked copies into the fixed text buffers of records, settings and
// paths. Every function keeps the destination terminated within its size,
// whatever the source holds.
#pragma once

#include <cstddef>

// Length of pszText, reading at most cchMax bytes: a field that lacks its
// terminator ends at the end of the field.
size_t BoundedLength(const char* pszText, size_t cchMax);

// Copies pszSource into pszDest (cchDest bytes), cut to cchDest - 1
// characters. Returns true when the whole text fitted.
bool CopyText(char* pszDest, size_t cchDest, const char* pszSource);

// Appends pszSource to the text in pszDest (cchDest bytes), cut to fit.
// Returns true when the whole text fitted.
bool AppendText(char* pszDest, size_t cchDest, const char* pszSource);

template <size_t N>
inline bool CopyText(char (&szDest)[N], const char* pszSource)
{
    return CopyText(szDest, N, pszSource);
}

template <size_t N>
inline bool AppendText(char (&szDest)[N], const char* pszSource)
{
    return AppendText(szDest, N, pszSource);
}
