#include "Common/Text.h"

size_t BoundedLength(const char* pszText, size_t cchMax)
{
    if (!pszText)
        return 0;
    size_t cch = 0;
    while (cch < cchMax && pszText[cch] != '\0')
        ++cch;
    return cch;
}

bool CopyText(char* pszDest, size_t cchDest, const char* pszSource)
{
    if (!pszDest || cchDest == 0)
        return false;
    pszDest[0] = '\0';
    return AppendText(pszDest, cchDest, pszSource);
}

bool AppendText(char* pszDest, size_t cchDest, const char* pszSource)
{
    if (!pszDest || cchDest == 0)
        return false;
    size_t cchUsed = BoundedLength(pszDest, cchDest);
    if (cchUsed == cchDest)
    {
        // The destination had lost its terminator: restore it at the end.
        pszDest[cchDest - 1] = '\0';
        return false;
    }
    if (!pszSource)
        return true;
    while (*pszSource != '\0')
    {
        if (cchUsed + 1 >= cchDest)
        {
            pszDest[cchUsed] = '\0';
            return false;
        }
        pszDest[cchUsed++] = *pszSource++;
    }
    pszDest[cchUsed] = '\0';
    return true;
}
