// Soak and stress of mDNS.dll in the test network (tests/soak/run-soak picks the network
// of each suite and how long it runs), each round from a fresh load of the library.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "tests/network/Browse.h"

namespace {

using namespace testnet;

struct Usage {
    int threads = 0;
    unsigned long handles = 0;
    long long privateKb = 0;  // PagefileUsage: Wine leaves PrivateUsage 0
};

Usage Measure() {
    Usage usage;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        usage.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    // Wine's GetProcessHandleCount answers 0: every handle value is asked about instead, as
    // the handle table hands out the lowest free one.
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        usage.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    usage.privateKb = static_cast<long long>(counters.PagefileUsage / 1024);
    return usage;
}

// Loads the library `loads` times afresh, each time for `browses` back-to-back browses that
// must each deliver every service of the test network: its samples and its odd names. The
// process does not hold ws2_32.dll, so that unloading mDNS.dll would unload it too, and
// under Wine a ws2_32 loaded again refuses bind (bench/WinsockReload.cpp shows it): the
// library must browse after a reload all the same.
TEST(SoakTest, BackToBackBrowsesAfterEachLoadAreNeverShort) {
    const int loads = EnvInt("SOAK_ROUNDS", 5), browses = 20;
    std::vector<Service> expected = Samples();
    ASSERT_GT(expected.size(), 0u);
    expected.emplace_back(L"Dotted.Name. With Spaces", 0xC0000201, 8801,
                          std::string("path=/dots\0\0", 12));
    expected.emplace_back(L"Caf\u00e9 \u00dcn\u00efc\u00f8d\u00e9 \u65e5\u672c", 0xC0000201, 8802,
                          std::string("path=/utf8\0\0", 12));
    expected.emplace_back(L"Without TXT", 0xC0000201, 8803, std::string(1, '\0'));
    int shortBrowses = 0;
    for (int load = 1; load <= loads; ++load) {
        Library dll;
        ASSERT_TRUE(dll.Loaded());
        for (int i = 1; i <= browses; ++i) {
            SCOPED_TRACE("load " + std::to_string(load) + " browse " + std::to_string(i));
            Browse browse{dll};
            EXPECT_TRUE(browse.Run(500));
            shortBrowses += browse.ExpectDelivered(expected) != 0;
        }
    }
    std::printf("soak: %d browses of %zu services, %d short\n", loads * browses,
                expected.size(), shortBrowses);
}

// Every other browse is left for Finalize to end. The system makes a handle or two lazily
// within the first browses and the record cache fills to its bounds, so the tenth browse
// sets the baseline of threads and handles. Private memory moves by a few hundred kB from
// browse to browse with what the heap keeps after a flood, so a leak shows as growth: the
// mean of the last ten browses against that of browses 11-20. The loop reports nothing
// until it ends, as a failure report would start a thread of gtest's.
TEST(FloodTest, BrowsesLeaveNothingBehindAndDeliverNothingLate) {
    const int browses = EnvInt("SOAK_FLOOD_BROWSES", 50);
    ASSERT_GE(browses, 30);
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    std::vector<Usage> after;
    int late = 0, failed = 0, repeated = 0;
    size_t events = 0, most = 0;
    const char* fault = nullptr;
    for (int i = 1; i <= browses; ++i) {
        Browse browse{dll};
        failed += !browse.Run(300, i % 2 == 0);
        Sleep(50);  // what would come late has had time to come
        late += browse.late;
        events += browse.events.size();
        most = std::max(most, browse.events.size());
        std::set<std::wstring> names;
        for (const Service& event : browse.events)
            repeated += !names.insert(std::get<0>(event)).second;
        if (!fault) fault = browse.fault;
        after.push_back(Measure());
    }
    EXPECT_EQ(failed, 0) << "browses whose calls failed";
    EXPECT_EQ(late, 0) << "events after DNSBrowserRelease or DNSServicesFinalize returned";
    EXPECT_EQ(fault, nullptr) << fault;
    EXPECT_EQ(repeated, 0) << "instances delivered twice by one browse";
    EXPECT_LE(most, 4096u) << "instances delivered by one browse, over the library's cap";
    const Usage& baseline = after[9];
    const auto differs = [&](const Usage& now) {
        return now.threads != baseline.threads || now.handles != baseline.handles;
    };
    const auto changed = std::find_if(after.begin() + 10, after.end(), differs);
    EXPECT_TRUE(changed == after.end())
        << "after browse " << changed - after.begin() + 1 << ": " << changed->threads
        << " threads, " << changed->handles << " handles; after browse 10: " << baseline.threads
        << ", " << baseline.handles;
    const auto meanKb = [&](size_t from) {
        long long sum = 0;
        for (size_t i = from; i < from + 10; ++i) sum += after[i].privateKb;
        return sum / 10;
    };
    const long long growthKb = meanKb(after.size() - 10) - meanKb(10);
    EXPECT_LE(growthKb, 128) << "private memory grows from browse to browse";
    std::printf("flood: %d browses, %zu events, at most %zu; after browse 10 %d threads, %lu "
                "handles, %lld kB; after the last %d, %lu; growth %lld kB\n", browses, events,
                most, baseline.threads, baseline.handles, baseline.privateKb,
                after.back().threads, after.back().handles, growthKb);
}

DWORD WINAPI RunForASecond(void* browse) { return static_cast<Browse*>(browse)->Run(1000); }

// Whatever the inner call did, the browse's own calls end what is left (their status may
// say so), on a thread of its own: a deadlock is a thread that never ends. A second is
// twice what the first event of every back-to-back browse takes at most.
TEST(SoakTest, CallsFromInsideTheCallbackAnswerWithAStatus) {
    const DNSStatus known[] = {kDNSNoErr, kDNSBadParamErr, kDNSBadReferenceErr, kDNSBadStateErr,
                               kDNSNoMemoryErr, kDNSNetworkErr};
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    const auto ignore = [](void*, DNSBrowserRef, intptr_t, const BrowserEvent*) {};
    DNSBrowserRef other = nullptr;  // Finalize releases it
    const std::pair<const char*, std::function<DNSStatus(DNSBrowserRef)>> rows[] = {
        {"DNSBrowserStopServiceSearch", [&](DNSBrowserRef self) { return dll.stop(self, 0); }},
        {"DNSBrowserRelease", [&](DNSBrowserRef self) { return dll.release(self, 0); }},
        {"DNSServicesFinalize", [&](DNSBrowserRef) { return dll.finalize(); }},
        {"DNSBrowserCreateW and Start of a new browser", [&](DNSBrowserRef) {
             const DNSStatus created = dll.create(0, ignore, nullptr, &other);
             return created ? created : dll.start(other, 2, L"_http._tcp", L".local");
         }},
    };
    for (const auto& [name, reentry] : rows) {
        Browse browse{dll};
        browse.reentry = reentry;
        const HANDLE thread = CreateThread(nullptr, 0, &RunForASecond, &browse, 0, nullptr);
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
