// mDNS.dll against the responders of the test network its runner starts for each suite,
// loaded with LoadLibrary as the folder's host has it, so that a test can start afresh.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "mdns/include/mDNS.h"

namespace {

int EnvInt(const char* name, int fallback = 0) {  // what the test network says
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

#define LIBRARY_ENTRY(member, exported)                                  \
    decltype(&exported) member = reinterpret_cast<decltype(&exported)>( \
        reinterpret_cast<void*>(GetProcAddress(module, #exported)))

// The library's entry points, from one LoadLibrary that FreeLibrary ends.
struct Library {
    ~Library() { FreeLibrary(module); }
    bool Loaded() const { return initialize && finalize && create && start && stop && release; }

    HMODULE module = LoadLibraryW(L"mDNS.dll");
    LIBRARY_ENTRY(initialize, DNSServicesInitialize);
    LIBRARY_ENTRY(finalize, DNSServicesFinalize);
    LIBRARY_ENTRY(create, DNSBrowserCreateW);
    LIBRARY_ENTRY(start, DNSBrowserStartServiceSearchW);
    LIBRARY_ENTRY(stop, DNSBrowserStopServiceSearch);
    LIBRARY_ENTRY(release, DNSBrowserRelease);
};

#undef LIBRARY_ENTRY

// A service as delivered: name, address, port, TXT strings (txtSize bytes).
using Service = std::tuple<std::wstring, uint32_t, uint16_t, std::string>;

// The samples (avahi's on 192.0.2.1 or LAN host h's on 192.0.2.(10+h)), then zeroconf's,
// then those of the DNS server's zone.
std::vector<Service> Samples(const std::set<int>& withdrawn = {}) {
    std::vector<Service> samples;
    const int hosts = EnvInt("TESTNET_HOSTS");
    for (int i = 1; i <= EnvInt("TESTNET_SERVICES"); ++i) {
        const std::string n = std::to_string(i), end(1, '\0');
        if (!withdrawn.count(i))
            samples.emplace_back(L"Sample Service " + std::to_wstring(i),
                                 hosts ? 0xC000020A + (i - 1) % hosts + 1 : 0xC0000201, 8000 + i,
                                 "path=/sample/" + n + end + "n=" + n + end + end);
    }
    for (int i = 1; i <= EnvInt("TESTNET_ZEROCONF"); ++i) {
        samples.emplace_back(L"Zeroconf Service " + std::to_wstring(i), 0xC0000201, 9000 + i,
                             "path=/zeroconf/" + std::to_string(i) + std::string(2, '\0'));
    }
    for (int i = 1; i <= EnvInt("TESTNET_UNICAST"); ++i) {
        samples.emplace_back(L"Unicast Service " + std::to_wstring(i), 0xC0000201, 7000 + i,
                             "path=/unicast/" + std::to_string(i) + std::string(2, '\0'));
    }
    return samples;
}

// One browse as the folder runs it: what it delivered, how, and whether anything came late.
struct Browse {
    explicit Browse(const Library& library) : dll(library) {}

    // Records the event, or the first thing wrong with how it came.
    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef browser, intptr_t,
                                  const BrowserEvent* event) {
        auto* self = static_cast<Browse*>(context);
        if (self->inCallback.fetch_add(1) != 0) self->Fail("two events delivered at once");
        if (self->reentry && !self->acted.exchange(true)) self->status = self->reentry(browser);
        const ResolvedServiceData* data = event ? event->resolved : nullptr;
        if (self->closed) {
            self->Fail("an event once the browse was stopped, released or finalised");
        } else if (browser != self->browser || GetCurrentThreadId() == self->caller || !data ||
                   event->type != kDNSBrowserEventTypeResolved) {
            self->Fail("not a resolved service for this browser on a thread of the library");
        } else if (wcscmp(data->type, kType) ||
                   (wcscmp(data->domain, kDomain) && wcscmp(data->domain, kZone))) {
            self->Fail("type or domain neither as the search was given them nor the zone's");
        } else if (data->address.family != 2 ||
                   std::count(data->address.reserved, data->address.reserved + 10, 0) != 10) {
            self->Fail("not an IPv4 address with its reserved bytes zero");
        } else {
            ++self->delivered;
            if (self->keep)
                self->events.emplace_back(data->name, data->address.ipv4Address,
                                          data->address.port,
                                          std::string(data->txt, data->txtSize));
        }
        Sleep(0);  // slow enough that a second delivering thread would show as overlap
        self->inCallback.fetch_sub(1);
    }

    void Fail(const char* what) {
        const char* none = nullptr;
        fault.compare_exchange_strong(none, what);
    }

    // The folder's sequence: initialise, create, start, wait, stop, release, finalise; with
    // `finalizeOnly`, DNSServicesFinalize ends the search. False if a call failed.
    bool Run(DWORD milliseconds, bool finalizeOnly = false) {
        if (dll.initialize(0, 0) != kDNSNoErr) return false;
        caller = GetCurrentThreadId();
        bool ok = dll.create(0, &OnEvent, this, &browser) == kDNSNoErr &&
                  dll.start(browser, flags, kType, kDomain) == kDNSNoErr;
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

    // Each service delivered once, soundly, and nothing else; false if not.
    bool ExpectDelivered(std::vector<Service> services) const {
        EXPECT_EQ(fault.load(), nullptr) << fault.load();
        std::vector<Service> delivered = events;
        std::sort(delivered.begin(), delivered.end());
        std::sort(services.begin(), services.end());
        EXPECT_EQ(delivered, services);
        return !fault && delivered == services;
    }

    static constexpr const wchar_t* kType = L"_http._tcp";
    static constexpr const wchar_t* kDomain = L".local";
    static constexpr const wchar_t* kZone = L"corp.example";  // the DNS server's
    const Library& dll;
    DNSFlags flags = kDNSBrowserFlagAutoResolve;
    DNSBrowserRef browser = nullptr;
    DWORD caller = 0;
    std::vector<Service> events;  // unless `keep` is false: then only counted
    bool keep = true;
    std::atomic<const char*> fault{nullptr};
    std::atomic<bool> closed{false}, acted{false};
    std::atomic<int> inCallback{0}, delivered{0};
    // Called by the first event, back into the library; what it answered.
    std::function<DNSStatus(DNSBrowserRef)> reentry;
    DNSStatus status = 1;
};

// Every responder at once; of the hostile one's crafted packets only sound services count.
// Run again with it alone, holding 5353 unshared: the library queries from another port.
TEST(ListingTest, EverySoundServiceOnceAndNothingElse) {
    Library dll;
    Browse browse{dll};
    ASSERT_TRUE(browse.Run(500));
    std::vector<Service> expected = Samples();
    expected.insert(expected.end(), {
        {L"Hostile Good", 0xC6336407, 80, {"path=/good\0k=v\0\0", 16}},  // 198.51.100.7
        {L"Hostile Twin", 0xC6336408, 8080, {"path=/twin\0\0", 12}},
        {L"Hostile No TXT", 0xC6336409, 82, {"", 1}},
        {L"Hostile Late Address", 0xC633640B, 84, {"path=/lateaddr\0\0", 16}},
        {L"Hostile Late SRV", 0xC633640D, 85, {"path=/latesrv\0\0", 15}},
        {L"Bad\ufffdUTF8", 0xC633640C, 86, {"path=/bad\0\0", 11}},
        {L"Zero\ufffdByte", 0xC633640C, 87, {"path=/zero\0\0", 12}},
    });
    browse.ExpectDelivered(expected);
}

// Asks the test network to withdraw a sample, with its goodbye; true once it has.
bool Withdraw(int sample) {
    const char* control = std::getenv("TESTNET_CONTROL");
    if (!control) return false;
    const std::string dir = std::string("Z:") + control + "/";
    std::remove((dir + "withdrawn").c_str());
    std::ofstream(dir + "withdraw.new") << "Sample Service " << sample;
    if (std::rename((dir + "withdraw.new").c_str(), (dir + "withdraw").c_str()) != 0) return false;
    for (int waited = 0; waited < 200; ++waited, Sleep(50)) {
        std::string said;
        if (std::ifstream(dir + "withdrawn") >> said) return said == "ok";
    }
    return false;
}

// Refreshes on a LAN, in one load: ten back-to-back browses list every sample; then samples
// of different hosts are withdrawn, each gone from the next browse on.
TEST(RefreshTest, EachBrowseListsEverySampleButTheWithdrawnOnes) {
    ASSERT_GT(EnvInt("TESTNET_HOSTS"), 1);
    ASSERT_GE(EnvInt("TESTNET_SERVICES"), 9);
    Library dll;
    std::set<int> withdrawn;
    const auto refresh = [&](const std::string& when) {
        SCOPED_TRACE(when);
        Browse browse{dll};
        EXPECT_TRUE(browse.Run(500));
        browse.ExpectDelivered(Samples(withdrawn));
    };
    for (int round = 1; round <= 10; ++round) refresh("refresh " + std::to_string(round));
    for (int sample : {2, 9, 4}) {
        ASSERT_TRUE(Withdraw(sample)) << "the test network did not withdraw " << sample;
        withdrawn.insert(sample);
        Sleep(1100);  // a goodbye removes the record one second after it came
        refresh("after withdrawing " + std::to_string(sample));
        refresh("again after withdrawing " + std::to_string(sample));
    }
}

// Beside a DNS server: the configured domain's services beside the link's, one delivery for
// one seen both ways; with a silent server, the link's all the same. A service of the zone
// not heard yet may come in a later browse (how many a window resolves is the machine's
// load; the benchmark measures it); once heard, the cache holds it for every browse after.
TEST(UnicastRefreshTest, DeliversTheConfiguredDomainsServicesBesideTheLinksOnceEach) {
    Library dll;
    std::set<std::wstring> heard;
    const int browses = 8;  // by the last, every one
    for (int round = 1; round <= browses; ++round) {
        SCOPED_TRACE("browse " + std::to_string(round));
        Browse browse{dll};
        browse.flags |= kDNSBrowserFlagConfiguredDomains;
        EXPECT_TRUE(browse.Run(500));
        std::vector<Service> expected = Samples();
        const auto late = [&](const Service& service) {
            const std::wstring& name = std::get<0>(service);
            return round < browses && name.rfind(L"Unicast ", 0) == 0 && !heard.count(name) &&
                   std::find(browse.events.begin(), browse.events.end(), service) == browse.events.end();
        };
        expected.erase(std::remove_if(expected.begin(), expected.end(), late), expected.end());
        browse.ExpectDelivered(expected);
        for (const Service& service : browse.events) heard.insert(std::get<0>(service));
    }
}

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
    // Wine's GetProcessHandleCount answers 0: every low handle value is asked about instead.
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        usage.handles += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    usage.privateKb = static_cast<long long>(counters.PagefileUsage / 1024);
    return usage;
}

// Back-to-back browses after each of several loads: unloading mDNS.dll unloads ws2_32.dll,
// which under Wine refuses bind once loaded again (bench/WinsockReload.cpp).
TEST(SoakTest, BackToBackBrowsesAfterEachLoadAreNeverShort) {
    const int loads = EnvInt("SOAK_ROUNDS", 5), browses = 20;
    std::vector<Service> expected = Samples();
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
            shortBrowses += !browse.ExpectDelivered(expected);
        }
    }
    std::printf("soak: %d browses of %zu services, %d short\n", loads * browses,
                expected.size(), shortBrowses);
}

// Every other browse is ended by Finalize, every fifth before its socket opens. The first,
// long one fills the cache; the tenth sets the baseline of threads and handles; a leak shows
// as private memory growing from browses 11-20 to the last ten. Nothing is reported until
// the loop ends: a failure report would start a thread of gtest's.
TEST(FloodTest, BrowsesLeaveNothingBehindAndDeliverNothingLate) {
    const int browses = EnvInt("SOAK_FLOOD_BROWSES", 50);
    ASSERT_GE(browses, 30);
    Library dll;
    ASSERT_TRUE(dll.Loaded());
    std::vector<Usage> after;
    int failed = 0;
    size_t events = 0;
    const char* fault = nullptr;
    for (int i = 1; i <= browses; ++i) {
        Browse browse{dll};
        browse.keep = false;  // the recorder's own memory would blur the library's
        failed += !browse.Run(i == 1 ? 3000 : i % 5 == 3 ? 0 : 300, i % 2 == 0);
        Sleep(50);  // what would come late has had time to come
        events += browse.delivered;
        if (!fault) fault = browse.fault;
        after.push_back(Measure());
    }
    EXPECT_EQ(failed, 0) << "browses whose calls failed";
    EXPECT_GT(events, 0u) << "no flood came";
    EXPECT_EQ(fault, nullptr) << fault;
    const Usage& baseline = after[9];
    for (size_t i = 10; i < after.size(); ++i)
        EXPECT_EQ(std::tie(after[i].threads, after[i].handles), std::tie(baseline.threads, baseline.handles))
            << "threads and handles after browse " << i + 1 << " and after browse 10";
    const auto meanKb = [&](size_t from) {
        long long sum = 0;
        for (size_t i = from; i < from + 10; ++i) sum += after[i].privateKb;
        return sum / 10;
    };
    const long long growthKb = meanKb(after.size() - 10) - meanKb(10);
    EXPECT_LE(growthKb, 128) << "private memory grows from browse to browse";
    std::printf("flood: %d browses, %zu events; after browse 10 %d threads, %lu handles, %lld kB; "
                "growth %lld kB\n", browses, events, baseline.threads, baseline.handles,
                baseline.privateKb, growthKb);
}

DWORD WINAPI RunForASecond(void* browse) { return static_cast<Browse*>(browse)->Run(1000); }

// Whatever the inner call did, the browse's own calls end what is left (their status may
// say so), on a thread of its own: a deadlock is a thread that never ends.
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
