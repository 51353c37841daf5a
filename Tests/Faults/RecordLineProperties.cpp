// Properties that hold for every input, checked on many thousands of inputs
// from fixed seeds: the rendering of any 784 bytes, and the wildcard matcher
// against a slow matcher of the test's own.
#include "Common/Records/EventLine.h"
#include "Client/WinNT/MatchPattern.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace
{
// A block of read-write pages followed by a page that faults on any access,
// so that data placed against its end shows every access beyond it.
class CGuardedBlock
{
public:
    explicit CGuardedBlock(size_t cbData)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        m_cbPage = info.dwPageSize;
        m_cbUsable = (cbData + m_cbPage - 1) / m_cbPage * m_cbPage;
        m_pBase = static_cast<BYTE*>(VirtualAlloc(nullptr, m_cbUsable + 2 * m_cbPage, MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld;
        // A fault page in front too, so reads before the data fault as well.
        VirtualProtect(m_pBase, m_cbPage, PAGE_NOACCESS, &dwOld);
        VirtualProtect(m_pBase + m_cbPage + m_cbUsable, m_cbPage, PAGE_NOACCESS, &dwOld);
        m_cbData = cbData;
    }
    ~CGuardedBlock() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    CGuardedBlock(const CGuardedBlock&) = delete;
    CGuardedBlock& operator=(const CGuardedBlock&) = delete;

    // The data placed so that its last byte is the last one before the fault page.
    BYTE* AtEnd() const { return m_pBase + m_cbPage + m_cbUsable - m_cbData; }
    // The data placed right behind the front fault page.
    BYTE* AtStart() const { return m_pBase + m_cbPage; }

private:
    BYTE*  m_pBase;
    size_t m_cbPage;
    size_t m_cbUsable;
    size_t m_cbData;
};

// A record of random bytes, biased towards the values the renderer treats
// specially: terminators, separators, quotes, line ends and the known types.
void FillRandomRecord(std::mt19937& random, BYTE* pRecord)
{
    static const BYTE special[] = {0, 0, 0, ' ', ',', '\t', '"', '\r', '\n', 0x80, 0xFF};
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 9);
    for (size_t i = 0; i < EVENT_RECORD_SIZE; ++i)
        pRecord[i] = pick(random) < 3 ? special[byte(random) % sizeof(special)] : static_cast<BYTE>(byte(random));
    static const int32_t types[] = {10, 20, 30, 40, 50, 60, 90, 100, -1, 70};
    if (pick(random) < 8)
    {
        int32_t nType = types[byte(random) % 10];
        memcpy(pRecord + offsetof(EventRecord, nType), &nType, sizeof(nType));
    }
}

// Any 784 bytes render as exactly one line: CR LF at its end and nowhere
// else, no terminator inside, within the line buffer; and the renderer reads
// neither before nor after the record (a fault page stands on each side) nor
// writes beyond the line buffer.
TEST(RecordLineProperties, AnyRecordRendersAsOneLineWithinItsBuffers)
{
    CGuardedBlock recordAtEnd(EVENT_RECORD_SIZE);
    CGuardedBlock recordAtStart(EVENT_RECORD_SIZE);
    CGuardedBlock line(EVENT_LINE_SIZE);
    std::mt19937 random(784);
    const DWORD platforms[] = {1, 2};
    for (int nCase = 0; nCase < 20000; ++nCase)
    {
        BYTE* pRecord = nCase % 2 ? recordAtEnd.AtEnd() : recordAtStart.AtStart();
        FillRandomRecord(random, pRecord);
        g_dwPlatformId = platforms[nCase % 2];
        char* pszLine = reinterpret_cast<char*>(line.AtEnd());
        memset(pszLine, 'x', EVENT_LINE_SIZE);
        FormatEventLine(reinterpret_cast<const EventRecord*>(pRecord), pszLine);

        size_t cchLine = strnlen(pszLine, EVENT_LINE_SIZE);
        ASSERT_LT(cchLine, EVENT_LINE_SIZE) << "case " << nCase << ": no terminator in the line buffer";
        ASSERT_GE(cchLine, 2u) << "case " << nCase;
        ASSERT_EQ(std::string(pszLine + cchLine - 2), "\r\n") << "case " << nCase;
        std::string strBody(pszLine, cchLine - 2);
        ASSERT_EQ(strBody.find_first_of("\r\n"), std::string::npos) << "case " << nCase << ": " << strBody;
    }
    g_dwPlatformId = 2;
}

// The matcher's rules, written as plainly as possible: exponential, and only
// for the short inputs below.
bool ReferenceMatch(const char* p, const char* t)
{
    if (*p == '\0')
        return *t == '\0';
    if (*p == '*')
    {
        for (const char* s = t;; ++s)
        {
            if (ReferenceMatch(p + 1, s))
                return true;
            if (*s == '\0')
                return false;
        }
    }
    if (*p == '?')
        return *t != '\0' && ReferenceMatch(p + 1, t + 1);
    if (*p == '[')
    {
        const char* body = p + 1;
        bool bNegated = *body == '^';
        if (bNegated)
            ++body;
        // A "]" in first place is a member: the closing one is searched from the second.
        const char* close = *body ? strchr(body + 1, ']') : nullptr;
        if (close)
        {
            if (*t == '\0')
                return false;
            bool bMember = false;
            for (const char* m = body; m < close;)
            {
                if (m[1] == '-' && m + 2 < close)
                {
                    signed char c = static_cast<signed char>(*t);
                    if (static_cast<signed char>(m[0]) <= c && c <= static_cast<signed char>(m[2]))
                        bMember = true;
                    m += 3;
                }
                else
                {
                    if (*m == *t)
                        bMember = true;
                    ++m;
                }
            }
            return bMember != bNegated && ReferenceMatch(close + 1, t + 1);
        }
    }
    return *p == *t && ReferenceMatch(p + 1, t + 1);
}

std::string RandomText(std::mt19937& random, const char* pszAlphabet, int nMaxLength)
{
    std::uniform_int_distribution<int> length(0, nMaxLength);
    std::uniform_int_distribution<size_t> pick(0, strlen(pszAlphabet) - 1);
    std::string strText;
    for (int n = length(random); n > 0; --n)
        strText += pszAlphabet[pick(random)];
    return strText;
}

TEST(RecordLineProperties, MatcherAgreesWithReferenceOnRandomPatterns)
{
    // Few letters, so that random patterns match often; every special
    // character of the pattern language; bytes above 0x7F for signed ranges.
    const char* pszPatternAlphabet = "AB\\.*?[]^-*?[\xE9\x81";
    const char* pszTextAlphabet = "AB\\.]^-[\xE9\x81";
    std::mt19937 random(3005);
    int nMatches = 0;
    for (int nCase = 0; nCase < 50000; ++nCase)
    {
        std::string strPattern = RandomText(random, pszPatternAlphabet, 10);
        std::string strText = RandomText(random, pszTextAlphabet, 14);
        bool bExpected = ReferenceMatch(strPattern.c_str(), strText.c_str());
        ASSERT_EQ(MatchPattern(strPattern.c_str(), strText.c_str()), bExpected)
            << "pattern \"" << strPattern << "\" text \"" << strText << "\"";
        nMatches += bExpected;
    }
    // The inputs must exercise both answers, or the agreement says little.
    EXPECT_GT(nMatches, 1000);
}
}  // namespace
