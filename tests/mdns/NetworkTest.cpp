// mDNS.dll against real responders in the test network (tests/network/testnet); each suite
// expects the responders that tests/network/run-network-tests starts for it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "mdns/include/mDNS.h"

namespace {

constexpr DWORD kFolderBrowseMs = 500;
constexpr uint32_t kResponder = 0xC0000201;  // 192.0.2.1

struct Event {
    uint32_t type = 0;
    std::wstring name, serviceType, domain;
    ServiceAddress address{};
    std::string txt;  // txtSize bytes as delivered
    DWORD thread = 0;
};

// Runs browses the way the folder does and records what they deliver, and how.
struct Recorder {
    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef browser, intptr_t,
                                  const BrowserEvent* event) {
        auto* self = static_cast<Recorder*>(context);
        if (self->inCallback.fetch_add(1) != 0) self->overlapped = true;
        if (self->released) self->afterRelease = true;
        if (browser != self->browser) self->wrongBrowser = true;
        Event recorded;
        recorded.type = event->type;
        recorded.thread = GetCurrentThreadId();
        if (event->type == kDNSBrowserEventTypeResolved) {
            const ResolvedServiceData* data = event->resolved;
            recorded.name = data->name;
            recorded.serviceType = data->type;
            recorded.domain = data->domain;
            recorded.address = data->address;
            recorded.txt.assign(data->txt, data->txtSize);
        }
        self->events.push_back(std::move(recorded));
        Sleep(0);  // slow enough that a second delivering thread would show as overlap
        self->inCallback.fetch_sub(1);
    }

    // Initialise, create, start, sleep, stop, release, finalise; false if a step failed.
    bool Browse(DWORD milliseconds) {
        if (DNSServicesInitialize(0, 0) != kDNSNoErr) return false;
        bool ok = DNSBrowserCreateW(0, &OnEvent, this, &browser) == kDNSNoErr;
        if (ok) ok = DNSBrowserStartServiceSearchW(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp",
                                                   L".local") == kDNSNoErr;
        if (ok) {
            Sleep(milliseconds);
            ok = DNSBrowserStopServiceSearch(browser, 0) == kDNSNoErr;
        }
        if (browser && DNSBrowserRelease(browser, 0) != kDNSNoErr) ok = false;
        released = true;
        return DNSServicesFinalize() == kDNSNoErr && ok;
    }

    const Event* Find(const std::wstring& name, size_t* count = nullptr) const {
        const Event* found = nullptr;
        if (count) *count = 0;
        for (const Event& event : events) {
            if (event.name != name) continue;
            if (count) ++*count;
            if (!found) found = &event;
        }
        return found;
    }

    std::vector<Event> events;
    DNSBrowserRef browser = nullptr;
    std::atomic<int> inCallback{0};
    std::atomic<bool> overlapped{false}, wrongBrowser{false}, afterRelease{false}, released{false};
};

// Type and domain come back as the search was given them.
void ExpectSoundDelivery(const Recorder& recorder, const wchar_t* type = L"_http._tcp",
                         const wchar_t* domain = L".local") {
    EXPECT_FALSE(recorder.overlapped) << "two events delivered at once";
    EXPECT_FALSE(recorder.afterRelease) << "an event after DNSBrowserRelease returned";
    EXPECT_FALSE(recorder.wrongBrowser);
    for (const Event& event : recorder.events) {
        EXPECT_EQ(event.type, uint32_t{kDNSBrowserEventTypeResolved});
        EXPECT_NE(event.thread, GetCurrentThreadId()) << "delivered on the caller's thread";
        EXPECT_EQ(event.serviceType, type);
        EXPECT_EQ(event.domain, domain);
        EXPECT_EQ(event.address.family, 2u);
        for (uint8_t byte : event.address.reserved) EXPECT_EQ(byte, 0);
        ASSERT_GE(event.txt.size(), 1u);
        EXPECT_EQ(event.txt.back(), '\0');
    }
}

// A service as it must be delivered: name, address, port, TXT strings as delivered.
struct Expected {
    std::wstring name;
    uint32_t ipv4;
    uint16_t port;
    std::string txt;
};

void ExpectEach(const Recorder& recorder, const std::vector<Expected>& services) {
    for (const Expected& service : services) {
        size_t count = 0;
        const Event* event = recorder.Find(service.name, &count);
        ASSERT_NE(event, nullptr) << "missing " << std::string(service.name.begin(), service.name.end());
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(event->address.ipv4Address, service.ipv4);
        EXPECT_EQ(event->address.port, service.port);
        EXPECT_EQ(event->txt, service.txt);
    }
}

std::vector<Expected> Samples() {
    const char* count = std::getenv("TESTNET_SERVICES");
    std::vector<Expected> samples;
    for (int i = 1; i <= (count ? std::atoi(count) : 0); ++i) {
        const std::string n = std::to_string(i);
        samples.push_back({L"Sample Service " + std::to_wstring(i), kResponder, uint16_t(8000 + i),
                           "path=/sample/" + n + std::string(1, '\0') + "n=" + n + std::string(2, '\0')});
    }
    return samples;
}

TEST(AvahiTest, BackToBackBrowsesAreEachComplete) {
    std::vector<Expected> expected = Samples();
    const size_t samples = expected.size();
    expected.push_back({L"Dotted.Name. With Spaces", kResponder, 8801, std::string("path=/dots\0\0", 12)});
    expected.push_back({L"Without TXT", kResponder, 8803, std::string(1, '\0')});
    for (int round = 0; round < 20; ++round) {
        Recorder recorder;
        ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
        ExpectSoundDelivery(recorder);
        ExpectEach(recorder, expected);
        EXPECT_NE(recorder.Find(L"Caf\u00e9 \u00dcn\u00efc\u00f8d\u00e9 \u65e5\u672c"), nullptr);
        EXPECT_EQ(recorder.events.size(), samples + 3);
        ASSERT_FALSE(HasFailure()) << "browse " << round + 1 << " of 20";
    }
}

// Calls out of order on live searches are refused; Finalize ends a search left running.
TEST(AvahiTest, CallsOutOfOrderAreRefusedAndFinalizeEndsWhatIsLeft) {
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    Recorder stopped, left;
    ASSERT_EQ(DNSBrowserCreateW(0, &Recorder::OnEvent, &stopped, &stopped.browser), kDNSNoErr);
    ASSERT_EQ(DNSBrowserCreateW(0, &Recorder::OnEvent, &left, &left.browser), kDNSNoErr);
    EXPECT_EQ(DNSBrowserStopServiceSearch(stopped.browser, 0), kDNSBadStateErr) << "stop before start";
    ASSERT_EQ(DNSBrowserStartServiceSearchW(stopped.browser, 2, L"_http._tcp", L".local"), kDNSNoErr);
    ASSERT_EQ(DNSBrowserStartServiceSearchW(left.browser, 2, L"_http._tcp.", L"local."), kDNSNoErr);
    EXPECT_EQ(DNSBrowserStartServiceSearchW(stopped.browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    Sleep(kFolderBrowseMs);
    EXPECT_EQ(DNSBrowserStopServiceSearch(stopped.browser, 0), kDNSNoErr);
    const size_t delivered = stopped.events.size();
    EXPECT_EQ(DNSBrowserStopServiceSearch(stopped.browser, 0), kDNSBadStateErr);
    EXPECT_EQ(DNSBrowserStartServiceSearchW(stopped.browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    EXPECT_EQ(DNSBrowserRelease(stopped.browser, 0), kDNSNoErr);
    EXPECT_EQ(DNSBrowserRelease(stopped.browser, 0), kDNSBadReferenceErr);
    stopped.released = true;
    ASSERT_EQ(DNSServicesFinalize(), kDNSNoErr);
    left.released = true;
    const size_t leftDelivered = left.events.size();
    Sleep(300);
    EXPECT_EQ(stopped.events.size(), delivered) << "delivered after stop";
    EXPECT_EQ(left.events.size(), leftDelivered) << "delivered after Finalize";
    EXPECT_EQ(DNSBrowserRelease(left.browser, 0), kDNSBadReferenceErr) << "finalize released it";
    ExpectEach(stopped, Samples());
    ExpectEach(left, Samples());
    ExpectSoundDelivery(stopped);
    ExpectSoundDelivery(left, L"_http._tcp.", L"local.");
}

TEST(ZeroconfTest, ListsTheServicesOfBothResponders) {
    Recorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    std::vector<Expected> expected = Samples();
    for (int i = 1; i <= 2; ++i) {
        expected.push_back({L"Zeroconf Service " + std::to_wstring(i), kResponder, uint16_t(9000 + i),
                            "path=/zeroconf/" + std::to_string(i) + std::string(2, '\0')});
    }
    ExpectEach(recorder, expected);
}

// The hostile responder's crafted packets come to the sound services once each, nothing from
// the malformed or incomplete ones; run twice: once with the responder holding 5353 without
// sharing it, so that the library queries from an ephemeral port.
TEST(HostileTest, DropsWhatIsMalformedOrIncompleteAndReportsTheRestOnce) {
    Recorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    // Each once, and nothing else: none from a malformed packet.
    ExpectEach(recorder, {
        {L"Hostile Good", 0xC6336407, 80, std::string("path=/good\0k=v\0\0", 16)},  // 198.51.100.7
        {L"Hostile Twin", 0xC6336408, 8080, std::string("path=/twin\0\0", 12)},
        {L"Hostile No TXT", 0xC6336409, 82, std::string(1, '\0')},
        {L"Hostile Late Address", 0xC633640B, 84, std::string("path=/lateaddr\0\0", 16)},
        {L"Hostile Late SRV", 0xC633640D, 85, std::string("path=/latesrv\0\0", 15)},
        {L"Bad\ufffdUTF8", 0xC633640C, 86, std::string("path=/bad\0\0", 11)},
        {L"Zero\ufffdByte", 0xC633640C, 87, std::string("path=/zero\0\0", 12)},
    });
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&recorder.Find(L"Hostile Good")->address);
    EXPECT_EQ(std::vector<uint8_t>(bytes + 4, bytes + 10),
              (std::vector<uint8_t>{0x07, 0x64, 0x33, 0xC6, 0x50, 0x00}));
    for (const wchar_t* absent : {L"HOSTILE TWIN", L"Hostile No Address", L"Hostile Goodbye"})
        EXPECT_EQ(recorder.Find(absent), nullptr);
    EXPECT_EQ(recorder.events.size(), 7u);
}

TEST(HostileTest, AFloodOfInstancesStopsAtTheCap) {
    Recorder recorder;
    ASSERT_TRUE(recorder.Browse(2000));
    ExpectSoundDelivery(recorder);
    EXPECT_GT(recorder.events.size(), 0u);
    EXPECT_LE(recorder.events.size(), 4096u);
    std::set<std::wstring> names;
    for (const Event& event : recorder.events) EXPECT_TRUE(names.insert(event.name).second);
    Recorder after;
    EXPECT_TRUE(after.Browse(100)) << "the library works after the flood";
}

}  // namespace
