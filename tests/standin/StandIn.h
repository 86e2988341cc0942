// Control of the scripted stand-in for mDNS.dll that the tests load in its place.
#pragma once

#include <cstdint>

#include "mDNS.h"

#if defined(MDNS_BUILDING_LIBRARY)
#define STANDIN_API extern "C" __declspec(dllexport)
#else
#define STANDIN_API extern "C" __declspec(dllimport)
#endif

enum StandInCall : int {
    kCallInitialize, kCallCreate, kCallStart, kCallStop, kCallRelease, kCallFinalize, kCallCount
};

// Forgets the script, the queued events and the call log.
STANDIN_API void StandInReset();
// Makes a call return `status` instead of 0.
STANDIN_API void StandInFailCall(int call, DNSStatus status);
// Queues an event that the search thread delivers, `delayMs` after the previous one.
// `txt` holds `txtSize` bytes in the library's double-zero-terminated form.
STANDIN_API void StandInQueueEvent(uint32_t type, const wchar_t* name, const ServiceAddress* address,
                                   const char* txt, size_t txtSize, uint32_t delayMs);
// The calls made since the last reset, one letter each: I C S T R F (initialize, create,
// start with its flags, stop, release, finalize), and E for every event delivered. Valid
// until the next call.
STANDIN_API const char* StandInCallLog();
