// Recall, latency, CPU and memory of browses through mDNS.dll done exactly as the folder
// does them: initialise, create, start, sleep 500 ms, stop, release, finalise.
//   mdns_bench N RUNS   (N: services the responders publish)
// Prints one line: lib N recall_min first_ms last_ms cpu_ms peak_private_kb
//                  private_before_kb private_after_kb
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "mdns/include/mDNS.h"

namespace {

using BenchClock = std::chrono::steady_clock;

struct Run {
    BenchClock::time_point start;
    std::set<std::wstring> names;
    double firstMs = -1;
    double lastMs = -1;
};

void MDNS_CALL OnEvent(void* context, DNSBrowserRef, intptr_t, const BrowserEvent* event) {
    auto* run = static_cast<Run*>(context);
    if (event->type != kDNSBrowserEventTypeResolved) return;
    const double ms =
        std::chrono::duration<double, std::milli>(BenchClock::now() - run->start).count();
    if (run->names.insert(event->resolved->name).second) {
        if (run->firstMs < 0) run->firstMs = ms;
        run->lastMs = ms;
    }
}

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& time) {
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (value(kernel) + value(user)) / 10000.0;
}

// The process's private commit: PagefileUsage, which Wine fills (it leaves PrivateUsage 0).
PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

bool Browse(Run& run, DWORD milliseconds) {
    DNSBrowserRef browser = nullptr;
    if (DNSServicesInitialize(0, 0) != kDNSNoErr) return false;
    if (DNSBrowserCreateW(0, &OnEvent, &run, &browser) != kDNSNoErr) {
        DNSServicesFinalize();
        return false;
    }
    run.start = BenchClock::now();
    DNSBrowserStartServiceSearchW(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp", L".local");
    Sleep(milliseconds);
    DNSBrowserStopServiceSearch(browser, 0);
    DNSBrowserRelease(browser, 0);
    DNSServicesFinalize();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int services = argc > 1 ? std::atoi(argv[1]) : 1;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    // One browse before measuring, so lazily loaded system parts do not count as ours.
    Run warmup;
    if (!Browse(warmup, 100)) {
        std::fprintf(stderr, "mdns_bench: the library did not start\n");
        return 1;
    }
    const size_t before = Memory().PagefileUsage;
    double recallMin = 1e9, firstMax = 0, lastMax = 0, cpuMax = 0;
    for (int i = 0; i < runs; ++i) {
        Run run;
        const double cpuBefore = CpuMs();
        if (!Browse(run, 500)) return 1;
        cpuMax = std::max(cpuMax, CpuMs() - cpuBefore);
        recallMin = std::min(recallMin, services ? double(run.names.size()) / services : 1.0);
        firstMax = std::max(firstMax, run.firstMs);
        lastMax = std::max(lastMax, run.lastMs);
        std::fprintf(stderr, "run %d: %zu of %d, first %.1f ms, last %.1f ms\n", i + 1,
                     run.names.size(), services, run.firstMs, run.lastMs);
    }
    const auto after = Memory();
    std::printf("lib %d %.4f %.1f %.1f %.1f %zu %zu %zu\n", services, recallMin, firstMax, lastMax,
                cpuMax, size_t(after.PeakPagefileUsage / 1024), size_t(before / 1024),
                size_t(after.PagefileUsage / 1024));
    return 0;
}
