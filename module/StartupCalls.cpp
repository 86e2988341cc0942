#include "module/StartupCalls.h"

#include <shlobj.h>

GetShellAllocatorFunction g_getShellAllocator = SHGetMalloc;
StartSocketsFunction g_startSockets = WSAStartup;
