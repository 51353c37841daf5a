#include "Client/WinNT/MatchPattern.h"

#include <cstring>

namespace
{

// Tests c against the one-character element at pszElement (anything but "*"
// and the end) and returns the pattern position after the element.
const char* MatchElement(const char* pszElement, char c, bool& bMatch)
{
    if (*pszElement == '?')
    {
        bMatch = true;
        return pszElement + 1;
    }
    if (*pszElement == '[')
    {
        const char* pszBody = pszElement + 1;
        bool bNegated = false;
        if (*pszBody == '^')
        {
            bNegated = true;
            ++pszBody;
        }
        // The closing "]" is looked for from the body's second character, so
        // a "]" in first place is a member.
        const char* pszClose = *pszBody != '\0' ? std::strchr(pszBody + 1, ']') : nullptr;
        if (!pszClose)
        {
            bMatch = c == '[';
            return pszElement + 1;
        }
        bool bMember = false;
        const signed char sc = static_cast<signed char>(c);
        for (const char* p = pszBody; p < pszClose;)
        {
            if (p[1] == '-' && p + 2 < pszClose)
            {
                // Characters from 0x80 up sort below the ASCII ones.
                if (static_cast<signed char>(p[0]) <= sc && sc <= static_cast<signed char>(p[2]))
                    bMember = true;
                p += 3;
            }
            else
            {
                if (*p == c)
                    bMember = true;
                ++p;
            }
        }
        bMatch = bMember != bNegated;
        return pszClose + 1;
    }
    bMatch = *pszElement == c;
    return pszElement + 1;
}

}  // namespace

// Every element but "*" takes exactly one text character, so a failure after
// a "*" only ever needs that last "*" to take one character more: earlier
// "*"s never have to be revisited. That keeps one resumable backtrack point
// and bounds the work by pattern length times text length, where trying
// every split at every "*" grows exponentially with the number of "*"s.
bool MatchPattern(const char* pszPattern, const char* pszText)
{
    const char* p = pszPattern;
    const char* t = pszText;
    const char* pszStarRest = nullptr;  // pattern after the last "*" seen
    const char* pszStarText = nullptr;  // text position that "*" resumes from

    while (*t != '\0')
    {
        if (*p == '*')
        {
            pszStarRest = ++p;
            pszStarText = t;
            continue;
        }
        if (*p != '\0')
        {
            bool bMatch = false;
            const char* pNext = MatchElement(p, *t, bMatch);
            if (bMatch)
            {
                p = pNext;
                ++t;
                continue;
            }
        }
        if (!pszStarRest)
            return false;
        p = pszStarRest;
        t = ++pszStarText;
    }
    // At the end of the text only "*"s can still match.
    while (*p == '*')
        ++p;
    return *p == '\0';
}
