// The lock of both DLLs' state shared between threads: a slim reader/writer lock of the
// system, always taken exclusively. It needs no set-up, cannot fail and takes no place in
// the DLL, where std::mutex of this runtime may throw std::system_error and brings the
// runtime's error texts and strings with it. A BasicLockable, so std::lock_guard holds it.
#ifndef RUNTIME_SLIMLOCK_H
#define RUNTIME_SLIMLOCK_H

#include <windows.h>

class SlimLock {
public:
    SlimLock() = default;
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;

    void lock() { AcquireSRWLockExclusive(&m_lock); }
    void unlock() { ReleaseSRWLockExclusive(&m_lock); }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

#endif
