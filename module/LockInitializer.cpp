#include "module/CriticalSection.h"

// Unlike the older initialiser, this one reports failure by its result rather than by a
// structured exception, which GCC cannot catch. It stands alone in this file so that a
// test build of the DLL can link its own failing one in its place.
InitializeLockFunction g_initializeLock = InitializeCriticalSectionEx;
