// The wall clock in milliseconds since 1970, so that a driver on the host can set a Wine
// program's stamps beside the packets it saw on the network.
#pragma once

#include <windows.h>

inline unsigned long long WallClockMs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000 - 11644473600000ULL;  // from 1601 to 1970
}
