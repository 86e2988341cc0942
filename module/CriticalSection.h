// The locks of the module and the class factory.
#pragma once

#include <windows.h>

// Creates a critical section: S_OK, E_OUTOFMEMORY when the system has no memory for it,
// E_FAIL for any other failure.
HRESULT MakeLock(CRITICAL_SECTION* lock);

// The call that creates a critical section; tests replace it to make creation fail.
using InitializeLockFunction = BOOL(WINAPI*)(CRITICAL_SECTION* lock, DWORD spinCount, DWORD flags);
extern InitializeLockFunction g_initializeLock;

// A critical section that may fail to be created; it is deleted only if it was made.
class CriticalSection {
public:
    CriticalSection() = default;
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    HRESULT Init();
    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section{};
    bool m_made = false;
};

class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CriticalSection& lock) : m_lock(lock) { m_lock.Enter(); }
    ~CriticalSectionGuard() { m_lock.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CriticalSection& m_lock;
};
