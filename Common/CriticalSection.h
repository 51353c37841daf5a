// A critical section and its scoped holder.
#pragma once

#include "Common/Win32.h"

class CCriticalSection
{
public:
    CCriticalSection() noexcept { ::InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_cs); }

    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() noexcept { ::EnterCriticalSection(&m_cs); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a critical section for the lifetime of the object.
class CAutoLock
{
public:
    explicit CAutoLock(CCriticalSection& cs) noexcept : m_cs(cs) { m_cs.Enter(); }
    ~CAutoLock() { m_cs.Leave(); }

    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCriticalSection& m_cs;
};
