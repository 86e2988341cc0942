// The events of a watch (a followed search through mDNS.dll), stamped with the wall clock.
//   watch_bench SECONDS
// Prints "ready", then one line per event on stdout:
//   MS_SINCE_1970 + NAME PORT     (resolved: new, or moved)
//   MS_SINCE_1970 - NAME          (removed)
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bench/WallClock.h"
#include "mdns/include/mDNS.h"

namespace {

void MDNS_CALL OnEvent(void*, DNSBrowserRef, intptr_t, const BrowserEvent* event) {
    if (!event->resolved) return;
    if (event->type == kDNSBrowserEventTypeResolved)
        std::printf("%llu + %ls %u\n", WallClockMs(), event->resolved->name, event->resolved->address.port);
    else if (event->type == kDNSBrowserEventTypeRemoved)
        std::printf("%llu - %ls\n", WallClockMs(), event->resolved->name);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    DNSBrowserRef browser = nullptr;
    if (DNSServicesInitialize(0, 0) != kDNSNoErr) return 1;
    if (DNSBrowserCreateW(0, OnEvent, nullptr, &browser) != kDNSNoErr ||
        DNSBrowserStartServiceSearchW(browser, kDNSBrowserFlagAutoResolve | kDNSBrowserFlagFollow,
                                      L"_http._tcp", L".local") != kDNSNoErr)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    DNSBrowserStopServiceSearch(browser, 0);
    DNSBrowserRelease(browser, 0);
    DNSServicesFinalize();
    return 0;
}
