// mDNS.dll browsed as the folder browses it, for the tests that run in the test network
// (tests/network/testnet): what a browse delivered, how, and whether anything came once it
// was closed. The library is loaded with LoadLibrary, as the folder's host process has it,
// so that a test can start from a fresh load.
#ifndef TESTS_NETWORK_BROWSE_H
#define TESTS_NETWORK_BROWSE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "mdns/include/mDNS.h"

namespace testnet {

inline int EnvInt(const char* name, int fallback = 0) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : fallback;
}

#define TESTNET_ENTRY(member, exported)                                  \
    decltype(&exported) member = reinterpret_cast<decltype(&exported)>( \
        reinterpret_cast<void*>(GetProcAddress(module, #exported)))

// The library's entry points, from one LoadLibrary that FreeLibrary ends.
struct Library {
    ~Library() { FreeLibrary(module); }
    bool Loaded() const { return initialize && finalize && create && start && stop && release; }

    HMODULE module = LoadLibraryW(L"mDNS.dll");
    TESTNET_ENTRY(initialize, DNSServicesInitialize);
    TESTNET_ENTRY(finalize, DNSServicesFinalize);
    TESTNET_ENTRY(create, DNSBrowserCreateW);
    TESTNET_ENTRY(start, DNSBrowserStartServiceSearchW);
    TESTNET_ENTRY(stop, DNSBrowserStopServiceSearch);
    TESTNET_ENTRY(release, DNSBrowserRelease);
};

#undef TESTNET_ENTRY

// A service as delivered: name, address, port, TXT strings (txtSize bytes).
using Service = std::tuple<std::wstring, uint32_t, uint16_t, std::string>;

// The --services samples of the test network, on its responder 192.0.2.1.
inline std::vector<Service> Samples() {
    std::vector<Service> samples;
    for (int i = 1; i <= EnvInt("TESTNET_SERVICES"); ++i) {
        const std::string n = std::to_string(i), end(1, '\0');
        samples.emplace_back(L"Sample Service " + std::to_wstring(i), 0xC0000201, 8000 + i,
                             "path=/sample/" + n + end + "n=" + n + end + end);
    }
    return samples;
}

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
            ++self->late;
            self->Fail("an event after the browse was closed");
        } else if (browser != self->browser || GetCurrentThreadId() == self->caller || !data ||
                   event->type != kDNSBrowserEventTypeResolved) {
            self->Fail("not a resolved service for this browser on a thread of the library");
        } else if (wcscmp(data->type, self->type) != 0 || wcscmp(data->domain, self->domain)) {
            self->Fail("type or domain not as the search was given them");
        } else if (data->address.family != 2 || data->txtSize == 0 ||
                   std::count(data->address.reserved, data->address.reserved + 10, 0) != 10 ||
                   data->txt[data->txtSize - 1] != '\0') {
            self->Fail("not an IPv4 address with zero padding and a TXT ended by a zero");
        } else {
            self->events.emplace_back(data->name, data->address.ipv4Address, data->address.port,
                                      std::string(data->txt, data->txtSize));
        }
        Sleep(0);  // slow enough that a second delivering thread would show as overlap
        self->inCallback.fetch_sub(1);
    }

    void Fail(const char* what) {
        const char* none = nullptr;
        fault.compare_exchange_strong(none, what);
    }

    bool Start() {
        caller = GetCurrentThreadId();
        return dll.create(0, &OnEvent, this, &browser) == kDNSNoErr &&
               dll.start(browser, kDNSBrowserFlagAutoResolve, type, domain) == kDNSNoErr;
    }

    // The folder's sequence: initialise, create, start, wait, stop, release, finalise; with
    // `finalizeOnly`, the search is left running for DNSServicesFinalize to end. False if a
    // call failed.
    bool Run(DWORD milliseconds, bool finalizeOnly = false) {
        if (dll.initialize(0, 0) != kDNSNoErr) return false;
        bool ok = Start();
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

    // Each service delivered once, soundly, and nothing else; how many were not.
    size_t ExpectDelivered(std::vector<Service> services) const {
        EXPECT_EQ(fault.load(), nullptr) << fault.load();
        std::vector<Service> delivered = events, missing;
        std::sort(delivered.begin(), delivered.end());
        std::sort(services.begin(), services.end());
        EXPECT_EQ(delivered, services);
        std::set_difference(services.begin(), services.end(), delivered.begin(), delivered.end(),
                            std::back_inserter(missing));
        return missing.size();
    }

    const Library& dll;
    const wchar_t* type = L"_http._tcp";
    const wchar_t* domain = L".local";
    DNSBrowserRef browser = nullptr;
    DWORD caller = GetCurrentThreadId();
    std::vector<Service> events;
    std::atomic<const char*> fault{nullptr};
    std::atomic<bool> closed{false}, acted{false};
    std::atomic<int> inCallback{0}, late{0};
    // Called by the first event, back into the library; what it answered.
    std::function<DNSStatus(DNSBrowserRef)> reentry;
    DNSStatus status = 1;
};

}  // namespace testnet

#endif
