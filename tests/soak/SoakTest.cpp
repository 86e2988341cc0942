// Soak and stress of mDNS.dll in the test network (tests/soak/run-soak picks the network
// of each suite and how long it runs). The library is loaded with LoadLibrary, as the
// folder's host process would have it, so a round can start from a fresh load.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "mdns/include/mDNS.h"

namespace {

int EnvInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

// The library's entry points, from one LoadLibrary that FreeLibrary ends.
struct Library {
    Library() {
        Get(initialize, "DNSServicesInitialize");
        Get(finalize, "DNSServicesFinalize");
        Get(create, "DNSBrowserCreateW");
        Get(start, "DNSBrowserStartServiceSearchW");
        Get(stop, "DNSBrowserStopServiceSearch");
        Get(release, "DNSBrowserRelease");
    }
    ~Library() { FreeLibrary(module); }
    template <class Function>
    void Get(Function*& function, const char* name) {
        function = reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Loaded() const { return initialize && finalize && create && start && stop && release; }

    HMODULE module = LoadLibraryW(L"mDNS.dll");
    decltype(DNSServicesInitialize)* initialize = nullptr;
    decltype(DNSServicesFinalize)* finalize = nullptr;
    decltype(DNSBrowserCreateW)* create = nullptr;
    decltype(DNSBrowserStartServiceSearchW)* start = nullptr;
    decltype(DNSBrowserStopServiceSearch)* stop = nullptr;
    decltype(DNSBrowserRelease)* release = nullptr;
};

enum class Action { None, Stop, Release, Finalize, NewBrowser };

// What one browse delivered, and whether anything came once it was closed. With an action,
// its first event makes that one call back into the library, and keeps its status.
struct Browse {
    explicit Browse(const Library& library, Action reentry = Action::None)
        : dll(library), action(reentry) {}

    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef browser, intptr_t,
                                  const BrowserEvent* event) {
        auto* self = static_cast<Browse*>(context);
        if (self->closed) ++self->late;
        if (self->action != Action::None && !self->acted.exchange(true)) self->Reenter(browser);
        if (event && event->type == kDNSBrowserEventTypeResolved && event->resolved) {
            ++self->events;
            self->names.insert(event->resolved->name);
        }
    }

    void Reenter(DNSBrowserRef browser) {
        switch (action) {
            case Action::Stop: status = dll.stop(browser, 0); break;
            case Action::Release: status = dll.release(browser, 0); break;
            case Action::Finalize: status = dll.finalize(); break;
            default:
                status = dll.create(0, [](void*, DNSBrowserRef, intptr_t, const BrowserEvent*) {},
                                    nullptr, &extra);
                if (status == kDNSNoErr)
                    status = dll.start(extra, kDNSBrowserFlagAutoResolve, L"_http._tcp", L".local");
        }
    }

    // The folder's sequence; when `finalizeOnly`, the search is left running for
    // DNSServicesFinalize to end.
    bool Run(DWORD milliseconds, bool finalizeOnly = false) {
        if (dll.initialize(0, 0) != kDNSNoErr) return false;
        DNSBrowserRef browser = nullptr;
        bool ok = dll.create(0, &OnEvent, this, &browser) == kDNSNoErr &&
                  dll.start(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp", L".local") == kDNSNoErr;
        Sleep(milliseconds);
        if (browser && !finalizeOnly) {
            ok = dll.stop(browser, 0) == kDNSNoErr && ok;
            ok = dll.release(browser, 0) == kDNSNoErr && ok;
            if (extra) dll.release(extra, 0);
            closed = true;
        }
        ok = dll.finalize() == kDNSNoErr && ok;
        closed = true;
        return ok;
    }

    static DWORD WINAPI RunForASecond(void* self) { return static_cast<Browse*>(self)->Run(1000); }

    // How many of the test network's samples it found.
    size_t Samples(int services) const {
        size_t found = 0;
        for (int i = 1; i <= services; ++i)
            found += names.count(L"Sample Service " + std::to_wstring(i));
        return found;
    }

    const Library& dll;
    const Action action;
    std::set<std::wstring> names;
    std::atomic<bool> closed{false}, acted{false};
    std::atomic<int> late{0}, events{0};
    DNSStatus status = 1;
    DNSBrowserRef extra = nullptr;
};

struct Usage {
    int threads = 0;
    unsigned long handles = 0;
    long long privateKb = 0;  // PagefileUsage: Wine leaves PrivateUsage 0
};

// Wine's GetProcessHandleCount answers 0: every handle value is asked about instead, as
// the handle table hands out the lowest free one.
unsigned long HandleCount() {
    unsigned long count = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    return count;
}

Usage Measure() {
    Usage usage;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        usage.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    usage.handles = HandleCount();
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    usage.privateKb = static_cast<long long>(counters.PagefileUsage / 1024);
    return usage;
}

// Loads the library `loads` times afresh, each time for `browses` back-to-back browses that
// must each find every sample of the test network.
void BrowseAfterLoads(int loads, int browses) {
    const int services = EnvInt("TESTNET_SERVICES", 0);
    ASSERT_GT(services, 0);
    int shortBrowses = 0;
    for (int load = 1; load <= loads; ++load) {
        Library dll;
        ASSERT_TRUE(dll.Loaded());
        for (int i = 1; i <= browses; ++i) {
            Browse browse{dll};
            EXPECT_TRUE(browse.Run(500)) << "load " << load << " browse " << i;
            shortBrowses += browse.Samples(services) < size_t(services);
            EXPECT_EQ(size_t(services), browse.Samples(services))
                << "load " << load << " browse " << i;
        }
    }
    std::printf("soak: %d browses of %d services, %d short\n", loads * browses, services,
                shortBrowses);
}

// The first browse of every load is one after a load. The process holds ws2_32.dll, as
// Explorer's does.
TEST(SoakTest, BackToBackBrowsesAreNeverShort) {
    ASSERT_NE(LoadLibraryW(L"ws2_32.dll"), nullptr);
    BrowseAfterLoads(EnvInt("SOAK_ROUNDS", 5), 20);
}

// Unloading mDNS.dll unloads ws2_32.dll where nothing else holds it; under Wine a ws2_32
// loaded again refuses bind (bench/WinsockReload.cpp shows it). The library must browse
// after a reload all the same.
TEST(SoakTest, ReloadedLibraryBrowsesAgain) { BrowseAfterLoads(3, 1); }

// The system makes a handle or two lazily within the first browses and the record cache
// fills to its bounds, so the tenth browse sets the baseline of threads and handles. Private
// memory moves by a few hundred kB from browse to browse with what the heap keeps after a
// flood, so a leak shows as growth: the mean of the last ten browses against that of
// browses 11-20. The loop reports nothing until it ends, as a failure report would start a
// thread of gtest's.
TEST(FloodTest, BrowsesLeaveNothingBehindAndDeliverNothingLate) {
    const int browses = EnvInt("SOAK_FLOOD_BROWSES", 50);
    ASSERT_GE(browses, 30);
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    std::vector<Usage> after;
    int late = 0, events = 0, failed = 0;
    for (int i = 1; i <= browses; ++i) {
        Browse browse{dll};
        failed += !browse.Run(300, i % 2 == 0);
        Sleep(50);  // what would come late has had time to come
        late += browse.late;
        events += browse.events;
        after.push_back(Measure());
    }
    EXPECT_EQ(failed, 0) << "browses whose calls failed";
    EXPECT_EQ(late, 0) << "events delivered after DNSBrowserRelease or DNSServicesFinalize returned";
    const Usage& baseline = after[9];
    for (size_t i = 10; i < after.size(); ++i) {
        const Usage& now = after[i];
        if (now.threads == baseline.threads && now.handles == baseline.handles) continue;
        ADD_FAILURE() << "after browse " << i + 1 << ": " << now.threads << " threads, "
                      << now.handles << " handles; after browse 10: " << baseline.threads << ", "
                      << baseline.handles;
        break;
    }
    const auto meanKb = [&](size_t from) {
        long long sum = 0;
        for (size_t i = from; i < from + 10; ++i) sum += after[i].privateKb;
        return sum / 10;
    };
    const long long growthKb = meanKb(after.size() - 10) - meanKb(10);
    EXPECT_LE(growthKb, 128) << "private memory grows from browse to browse";
    std::printf("flood: %d browses, %d events, %d late; after browse 10 %d threads, %lu handles, "
                "%lld kB; after the last %d threads, %lu handles; growth %lld kB\n", browses,
                events, late, baseline.threads, baseline.handles, baseline.privateKb,
                after.back().threads, after.back().handles, growthKb);
}

TEST(SoakTest, CallsFromInsideTheCallbackAnswerWithAStatus) {
    const DNSStatus known[] = {kDNSNoErr, kDNSBadParamErr, kDNSBadReferenceErr, kDNSBadStateErr,
                               kDNSNoMemoryErr, kDNSNetworkErr};
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    const std::pair<Action, const char*> rows[] = {
        {Action::Stop, "DNSBrowserStopServiceSearch"},
        {Action::Release, "DNSBrowserRelease"},
        {Action::Finalize, "DNSServicesFinalize"},
        {Action::NewBrowser, "DNSBrowserCreateW and Start of a new browser"},
    };
    for (const auto& [action, name] : rows) {
        // Whatever the inner call did, the browse's own calls end what is left (their status
        // may say so), on a thread of its own: a deadlock is a thread that never ends. A
        // second is twice what the first event of every back-to-back browse takes at most.
        Browse browse{dll, action};
        const HANDLE thread = CreateThread(nullptr, 0, &Browse::RunForASecond, &browse, 0, nullptr);
        if (WaitForSingleObject(thread, 20000) == WAIT_TIMEOUT) {
            std::printf("reentry: %s did not return within 20 s: deadlock\n", name);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        CloseHandle(thread);
        EXPECT_TRUE(browse.acted) << name << ": no event";
        EXPECT_NE(std::find(std::begin(known), std::end(known), browse.status), std::end(known))
            << name << " answered " << browse.status;
        std::printf("reentry: %s from the callback answered %ld\n", name, long(browse.status));
        EXPECT_TRUE(Browse{dll}.Run(200)) << "the next browse, after " << name;
    }
}

}  // namespace
