// Linked into a test build of the DLL in place of the real lock initialiser: no lock of
// the start-up records can be made, so the loader must be refused.
#include "module/CriticalSection.h"

namespace {

BOOL WINAPI NoLock(CRITICAL_SECTION*, DWORD, DWORD) { return FALSE; }

}  // namespace

InitializeLockFunction g_initializeLock = NoLock;
