// Recall, latency, CPU and memory of back-to-back browses through mDNS.dll in one load,
// each done exactly as the folder does it: initialise, create, start, sleep 500 ms, stop,
// release, finalise.
//   mdns_bench N [BROWSES]   (N: services the responders publish; BROWSES default 20)
// Prints a line per browse on stderr and one summary line on stdout:
//   lib N first_recall least_recall_of_rest last_ms_max cpu_ms_mean cpu_ms_max
//       private_kb_before private_kb_after_first private_kb_after_last
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
size_t PrivateKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage / 1024;
}

bool Browse(Run& run, DWORD milliseconds) {
    DNSBrowserRef browser = nullptr;
    run.start = BenchClock::now();
    if (DNSServicesInitialize(0, 0) != kDNSNoErr) return false;
    if (DNSBrowserCreateW(0, &OnEvent, &run, &browser) != kDNSNoErr) {
        DNSServicesFinalize();
        return false;
    }
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
    const int browses = argc > 2 ? std::max(2, std::atoi(argv[2])) : 20;
    const size_t before = PrivateKb();
    size_t afterFirst = 0;
    double firstRecall = 0, leastRecall = 1e9, lastMax = 0, cpuSum = 0, cpuMax = 0;
    for (int i = 0; i < browses; ++i) {
        Run run;
        const double cpuBefore = CpuMs();
        if (!Browse(run, 500)) {
            std::fprintf(stderr, "mdns_bench: the library did not start\n");
            return 1;
        }
        const double cpu = CpuMs() - cpuBefore;
        const double recall = services ? double(run.names.size()) / services : 1.0;
        cpuSum += cpu;
        cpuMax = std::max(cpuMax, cpu);
        lastMax = std::max(lastMax, run.lastMs);
        if (i == 0) {
            firstRecall = recall;
            afterFirst = PrivateKb();
        } else {
            leastRecall = std::min(leastRecall, recall);
        }
        std::fprintf(stderr, "browse %d: %zu of %d, first %.1f ms, last %.1f ms, cpu %.1f ms, %zu kB\n",
                     i + 1, run.names.size(), services, run.firstMs, run.lastMs, cpu, PrivateKb());
    }
    std::printf("lib %d %.4f %.4f %.1f %.1f %.1f %zu %zu %zu\n", services, firstRecall, leastRecall,
                lastMax, cpuSum / browses, cpuMax, before, afterFirst, PrivateKb());
    return 0;
}
