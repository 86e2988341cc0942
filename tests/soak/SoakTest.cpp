// Soak and stress of mDNS.dll in the test network (tests/soak/run-soak picks the network
// of each suite and how long it runs). The library is loaded with LoadLibrary, as the
// folder's host process would have it, so a round can start from a fresh load.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

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
    Library() : module(LoadLibraryW(L"mDNS.dll")) {
        if (!module) return;
        Get(initialize, "DNSServicesInitialize");
        Get(finalize, "DNSServicesFinalize");
        Get(create, "DNSBrowserCreateW");
        Get(start, "DNSBrowserStartServiceSearchW");
        Get(stop, "DNSBrowserStopServiceSearch");
        Get(release, "DNSBrowserRelease");
    }
    ~Library() {
        if (module) FreeLibrary(module);
    }
    template <class Function>
    void Get(Function*& function, const char* name) {
        function = reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Loaded() const { return initialize && finalize && create && start && stop && release; }

    HMODULE module;
    decltype(DNSServicesInitialize)* initialize = nullptr;
    decltype(DNSServicesFinalize)* finalize = nullptr;
    decltype(DNSBrowserCreateW)* create = nullptr;
    decltype(DNSBrowserStartServiceSearchW)* start = nullptr;
    decltype(DNSBrowserStopServiceSearch)* stop = nullptr;
    decltype(DNSBrowserRelease)* release = nullptr;
};

// What one browse delivered, and whether anything came once it was closed.
struct Browse {
    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef, intptr_t, const BrowserEvent* event) {
        auto* self = static_cast<Browse*>(context);
        if (self->closed) ++self->late;
        if (event && event->type == kDNSBrowserEventTypeResolved && event->resolved) {
            ++self->events;
            self->names.insert(event->resolved->name);
        }
    }

    // The folder's sequence; when `finalizeOnly`, the search is left running for
    // DNSServicesFinalize to end.
    bool Run(const Library& dll, DWORD milliseconds, bool finalizeOnly = false) {
        if (dll.initialize(0, 0) != kDNSNoErr) return false;
        DNSBrowserRef browser = nullptr;
        bool ok = dll.create(0, &OnEvent, this, &browser) == kDNSNoErr &&
                  dll.start(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp", L".local") == kDNSNoErr;
        Sleep(milliseconds);
        if (browser && !finalizeOnly) {
            ok = dll.stop(browser, 0) == kDNSNoErr && ok;
            ok = dll.release(browser, 0) == kDNSNoErr && ok;
            closed = true;
        }
        ok = dll.finalize() == kDNSNoErr && ok;
        closed = true;
        return ok;
    }

    std::set<std::wstring> names;
    std::atomic<bool> closed{false};
    std::atomic<int> late{0};
    std::atomic<int> events{0};
};

size_t SamplesFound(const Browse& browse, int services) {
    size_t found = 0;
    for (int i = 1; i <= services; ++i)
        found += browse.names.count(L"Sample Service " + std::to_wstring(i));
    return found;
}

struct Usage {
    int threads = 0;
    unsigned long handles = 0;
    long long privateKb = 0;  // PagefileUsage: Wine leaves PrivateUsage 0
};

// Wine's GetProcessHandleCount answers 0; the system's handle table has the count.
unsigned long HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count) return count;
    struct Entry {
        PVOID object;
        ULONG_PTR process, handle;
        ULONG access;
        USHORT backTrace, type;
        ULONG attributes, reserved;
    };
    struct Table {
        ULONG_PTR count, reserved;
        Entry entries[1];
    };
    using Query = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG kExtendedHandleInformation = 64;
    std::vector<char> buffer(4 << 20);
    ULONG size = 0;
    if (!query || query(kExtendedHandleInformation, buffer.data(), ULONG(buffer.size()), &size) != 0)
        return 0;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    for (ULONG_PTR i = 0; i < table->count; ++i)
        count += table->entries[i].process == GetCurrentProcessId();
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

// Every round loads the library afresh, so its first browse is one after a load. The
// process holds ws2_32.dll, as Explorer's does; ReloadedLibraryBrowsesAgain is the case
// without.
TEST(SoakTest, BackToBackBrowsesAreNeverShort) {
    ASSERT_NE(LoadLibraryW(L"ws2_32.dll"), nullptr);
    const int rounds = EnvInt("SOAK_ROUNDS", 5);
    const int services = EnvInt("TESTNET_SERVICES", 0);
    ASSERT_GT(services, 0);
    int shortBrowses = 0;
    size_t least = size_t(services);
    for (int round = 1; round <= rounds; ++round) {
        Library dll;
        ASSERT_TRUE(dll.Loaded());
        for (int i = 1; i <= 20; ++i) {
            Browse browse;
            ASSERT_TRUE(browse.Run(dll, 500));
            const size_t found = SamplesFound(browse, services);
            least = std::min(least, found);
            if (found < size_t(services)) {
                ++shortBrowses;
                ADD_FAILURE() << "round " << round << " browse " << i << ": " << found << " of "
                              << services;
            }
        }
    }
    std::printf("soak: %d browses of %d services, %d short, the least %zu\n", rounds * 20,
                services, shortBrowses, least);
}

// Unloading mDNS.dll unloads ws2_32.dll where nothing else holds it; under Wine a ws2_32
// loaded again refuses bind (bench/WinsockReload.cpp shows it). The library must browse
// after a reload all the same.
TEST(SoakTest, ReloadedLibraryBrowsesAgain) {
    for (int load = 1; load <= 3; ++load) {
        Library dll;
        ASSERT_TRUE(dll.Loaded());
        Browse browse;
        EXPECT_TRUE(browse.Run(dll, 500)) << "load " << load;
        EXPECT_EQ(SamplesFound(browse, EnvInt("TESTNET_SERVICES", 0)),
                  size_t(EnvInt("TESTNET_SERVICES", 0))) << "load " << load;
    }
}

// The tenth browse sets the baseline of threads and handles: by then the library and the
// system have loaded what they keep while loaded. Private memory moves by a few hundred kB from browse to browse with what
// the heap keeps after a flood, so a leak shows as growth: the mean of the last ten
// browses against that of the ten after the first. The loop reports nothing until it
// ends, as a failure report would start a thread of gtest's.
constexpr long long kMemoryGrowthKb = 128;

TEST(FloodTest, BrowsesLeaveNothingBehindAndDeliverNothingLate) {
    const int browses = EnvInt("SOAK_FLOOD_BROWSES", 50);
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    std::vector<Usage> after;
    int late = 0, events = 0, failed = 0;
    for (int i = 1; i <= browses; ++i) {
        Browse browse;
        failed += !browse.Run(dll, 300, i % 2 == 0);
        Sleep(50);  // what would come late has had time to come
        late += browse.late;
        events += browse.events;
        after.push_back(Measure());
    }
    EXPECT_EQ(failed, 0) << "browses whose calls failed";
    EXPECT_EQ(late, 0) << "events delivered after DNSBrowserRelease or DNSServicesFinalize returned";
    // The system makes a handle or two lazily within the first browses (they stay, the same
    // in every later browse): the tenth browse sets the baseline, and a leak shows as growth.
    const Usage& baseline = after[9];
    Usage most = baseline;
    int reported = 0;
    for (size_t i = 10; i < after.size(); ++i) {
        const Usage& now = after[i];
        most.threads = std::max(most.threads, now.threads);
        most.handles = std::max(most.handles, now.handles);
        most.privateKb = std::max(most.privateKb, now.privateKb);
        if ((i + 1) % 10 == 0)
            std::printf("flood: after browse %zu: %d threads, %lu handles, %lld kB\n", i + 1,
                        now.threads, now.handles, now.privateKb);
        if (reported < 5 && (now.threads != baseline.threads || now.handles != baseline.handles)) {
            ++reported;
            ADD_FAILURE() << "after browse " << i + 1 << ": " << now.threads << " threads, "
                          << now.handles << " handles, " << now.privateKb << " kB; after the first "
                          << baseline.threads << ", " << baseline.handles << ", "
                          << baseline.privateKb << " kB";
        }
    }
    const auto meanKb = [&](size_t from) {
        long long sum = 0;
        for (size_t i = from; i < from + 10; ++i) sum += after[i].privateKb;
        return sum / 10;
    };
    // The record cache fills to its bounds over the flood's first browses.
    ASSERT_GE(after.size(), 30u);
    const long long growthKb = meanKb(after.size() - 10) - meanKb(10);
    EXPECT_LE(growthKb, kMemoryGrowthKb) << "private memory grows from browse to browse";
    std::printf("flood: %d browses, %d events, %d late; after the first %d threads, %lu handles, "
                "%lld kB (browse 10); after the others at most %d threads, %lu handles, %lld kB; growth "
                "from browses 11-20 to the last ten %lld kB\n",
                browses, events, late, baseline.threads, baseline.handles, baseline.privateKb,
                most.threads, most.handles, most.privateKb, growthKb);
}

enum class Action { Stop, Release, Finalize, NewBrowser };

// One call from inside the first event's callback; the status it got back.
struct Reentry {
    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef browser, intptr_t,
                                  const BrowserEvent*) {
        auto* self = static_cast<Reentry*>(context);
        if (self->acted.exchange(true)) return;
        const Library& dll = *self->dll;
        switch (self->action) {
            case Action::Stop: self->status = dll.stop(browser, 0); break;
            case Action::Release: self->status = dll.release(browser, 0); break;
            case Action::Finalize: self->status = dll.finalize(); break;
            case Action::NewBrowser:
                self->status = dll.create(0, &Browse::OnEvent, &self->second, &self->extra);
                if (self->status == kDNSNoErr)
                    self->status = dll.start(self->extra, kDNSBrowserFlagAutoResolve, L"_http._tcp",
                                             L".local");
                break;
        }
        SetEvent(self->done);
    }

    const Library* dll = nullptr;
    Action action = Action::Stop;
    std::atomic<bool> acted{false};
    DNSStatus status = 1;
    DNSBrowserRef extra = nullptr;
    Browse second;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// The row under way; null once every row is done.
std::atomic<const char*> g_watchedRow{""};
HANDLE g_rowStarted = CreateEventW(nullptr, FALSE, FALSE, nullptr);

// A deadlocked row ends the whole program, saying which row it was.
DWORD WINAPI Watchdog(void*) {
    for (;;) {
        if (WaitForSingleObject(g_rowStarted, 20000) == WAIT_TIMEOUT) {
            std::printf("reentry: %s did not return within 20 s: deadlock\n", g_watchedRow.load());
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        if (!g_watchedRow) return 0;
    }
}

TEST(SoakTest, CallsFromInsideTheCallbackAnswerWithAStatus) {
    const struct {
        const char* name;
        Action action;
    } rows[] = {
        {"DNSBrowserStopServiceSearch", Action::Stop},
        {"DNSBrowserRelease", Action::Release},
        {"DNSServicesFinalize", Action::Finalize},
        {"DNSBrowserCreateW and Start of a new browser", Action::NewBrowser},
    };
    const DNSStatus known[] = {kDNSNoErr, kDNSBadParamErr, kDNSBadReferenceErr, kDNSBadStateErr,
                               kDNSNoMemoryErr, kDNSNetworkErr};
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    CloseHandle(CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr));
    for (const auto& row : rows) {
        g_watchedRow = row.name;
        SetEvent(g_rowStarted);
        Reentry reentry;
        reentry.dll = &dll;
        reentry.action = row.action;
        ASSERT_EQ(dll.initialize(0, 0), kDNSNoErr) << row.name;
        DNSBrowserRef browser = nullptr;
        ASSERT_EQ(dll.create(0, &Reentry::OnEvent, &reentry, &browser), kDNSNoErr) << row.name;
        ASSERT_EQ(dll.start(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp", L".local"), kDNSNoErr);
        EXPECT_EQ(WaitForSingleObject(reentry.done, 3000), WAIT_OBJECT_0) << row.name << ": no event";
        Sleep(100);
        // Whatever the inner call did, these end what is left; their status may say so.
        dll.stop(browser, 0);
        dll.release(browser, 0);
        if (reentry.extra) dll.release(reentry.extra, 0);
        dll.finalize();
        EXPECT_NE(std::find(std::begin(known), std::end(known), reentry.status), std::end(known))
            << row.name << " answered " << reentry.status;
        std::printf("reentry: %s from the callback answered %ld\n", row.name,
                    static_cast<long>(reentry.status));
        CloseHandle(reentry.done);
        // And the library serves the next browse.
        Browse after;
        EXPECT_TRUE(after.Run(dll, 200)) << "after " << row.name;
    }
    g_watchedRow = nullptr;
    SetEvent(g_rowStarted);
}

}  // namespace
