// The platform calls that start the folder and the enumerator. They hardly ever fail on
// a working system, so tests replace them to reach the paths that handle their failure.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <objidl.h>

using GetShellAllocatorFunction = HRESULT(WINAPI*)(IMalloc** allocator);
using StartSocketsFunction = int(WINAPI*)(WORD version, WSADATA* data);

extern GetShellAllocatorFunction g_getShellAllocator;
extern StartSocketsFunction g_startSockets;
