// mDNS.dll against real responders in the test network (tests/network/testnet); each suite
// expects the responders that tests/network/run-network-tests starts for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "tests/mdns/BrowseRecorder.h"

namespace {

constexpr DWORD kFolderBrowseMs = 500;
constexpr uint32_t kResponder = 0xC0000201;  // 192.0.2.1

int ServiceCount() {
    const char* count = std::getenv("TESTNET_SERVICES");
    return count ? std::atoi(count) : 0;
}

std::wstring SampleName(int i) { return L"Sample Service " + std::to_wstring(i); }

std::string SampleTxt(int i) {
    const std::string n = std::to_string(i);
    return "path=/sample/" + n + std::string(1, '\0') + "n=" + n + std::string(2, '\0');
}

// Type and domain come back as the search was given them.
void ExpectSoundDelivery(const BrowseRecorder& recorder, const wchar_t* type = L"_http._tcp",
                         const wchar_t* domain = L".local") {
    EXPECT_FALSE(recorder.overlapped) << "two events delivered at once";
    EXPECT_FALSE(recorder.afterRelease) << "an event after DNSBrowserRelease returned";
    EXPECT_FALSE(recorder.wrongBrowser);
    for (const RecordedEvent& event : recorder.events) {
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

void ExpectEverySample(const std::vector<RecordedEvent>& events, int count) {
    for (int i = 1; i <= count; ++i) {
        const RecordedEvent* event = FindNamed(events, SampleName(i));
        ASSERT_NE(event, nullptr) << "missing Sample Service " << i;
        EXPECT_EQ(CountNamed(events, SampleName(i)), 1u) << "Sample Service " << i;
        EXPECT_EQ(event->address.ipv4Address, kResponder);
        EXPECT_EQ(event->address.port, 8000 + i);
        EXPECT_EQ(event->txt, SampleTxt(i));
    }
}

TEST(AvahiTest, ListsEveryServiceOnceWithItsRecords) {
    BrowseRecorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    ExpectEverySample(recorder.events, ServiceCount());

    const RecordedEvent* dots = FindNamed(recorder.events, L"Dotted.Name. With Spaces");
    ASSERT_NE(dots, nullptr);
    EXPECT_EQ(dots->address.port, 8801);
    EXPECT_EQ(dots->txt, std::string("path=/dots\0\0", 12));
    EXPECT_NE(FindNamed(recorder.events, L"Caf\u00e9 \u00dcn\u00efc\u00f8d\u00e9 \u65e5\u672c"), nullptr);
    const RecordedEvent* noTxt = FindNamed(recorder.events, L"Without TXT");
    ASSERT_NE(noTxt, nullptr);
    EXPECT_EQ(noTxt->txt, std::string(1, '\0'));
    EXPECT_EQ(recorder.events.size(), size_t(ServiceCount()) + 3);
}

TEST(AvahiTest, BackToBackBrowsesAreEachComplete) {
    for (int round = 0; round < 20; ++round) {
        BrowseRecorder recorder;
        ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
        ExpectSoundDelivery(recorder);
        ExpectEverySample(recorder.events, ServiceCount());
        ASSERT_FALSE(HasFailure()) << "browse " << round + 1 << " of 20";
    }
}

TEST(AvahiTest, CallsOutOfOrderOnALiveSearchAreRefused) {
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    BrowseRecorder recorder;
    DNSBrowserRef browser = nullptr;
    ASSERT_EQ(DNSBrowserCreateW(0, &BrowseRecorder::OnEvent, &recorder, &browser), kDNSNoErr);
    recorder.expectedBrowser = browser;
    EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSBadStateErr) << "stop before start";
    ASSERT_EQ(DNSBrowserStartServiceSearchW(browser, 2, L"_http._tcp", L".local"), kDNSNoErr);
    EXPECT_EQ(DNSBrowserStartServiceSearchW(browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    Sleep(kFolderBrowseMs);
    EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSNoErr);
    const size_t delivered = recorder.events.size();
    Sleep(300);
    EXPECT_EQ(recorder.events.size(), delivered) << "delivered after stop";
    EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSBadStateErr);
    EXPECT_EQ(DNSBrowserStartServiceSearchW(browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSNoErr);
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSBadReferenceErr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
    ExpectEverySample(recorder.events, ServiceCount());
}

TEST(AvahiTest, FinalizeEndsSearchesLeftRunning) {
    BrowseRecorder first;
    BrowseRecorder second;
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    DNSBrowserRef browsers[2] = {};
    ASSERT_EQ(DNSBrowserCreateW(0, &BrowseRecorder::OnEvent, &first, &browsers[0]), kDNSNoErr);
    ASSERT_EQ(DNSBrowserCreateW(0, &BrowseRecorder::OnEvent, &second, &browsers[1]), kDNSNoErr);
    first.expectedBrowser = browsers[0];
    second.expectedBrowser = browsers[1];
    ASSERT_EQ(DNSBrowserStartServiceSearchW(browsers[0], 2, L"_http._tcp", L".local"), kDNSNoErr);
    ASSERT_EQ(DNSBrowserStartServiceSearchW(browsers[1], 2, L"_http._tcp.", L"local."), kDNSNoErr);
    Sleep(kFolderBrowseMs);
    ASSERT_EQ(DNSServicesFinalize(), kDNSNoErr);
    first.released = second.released = true;
    const size_t delivered = first.events.size() + second.events.size();
    Sleep(300);
    EXPECT_EQ(first.events.size() + second.events.size(), delivered);
    EXPECT_EQ(DNSBrowserRelease(browsers[0], 0), kDNSBadReferenceErr) << "finalize released it";
    ExpectEverySample(first.events, ServiceCount());
    ExpectEverySample(second.events, ServiceCount());
    ExpectSoundDelivery(first);
    ExpectSoundDelivery(second, L"_http._tcp.", L"local.");
}

TEST(ZeroconfTest, ListsTheServicesOfBothResponders) {
    BrowseRecorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    ExpectEverySample(recorder.events, ServiceCount());
    for (int i = 1; i <= 2; ++i) {
        const std::wstring name = L"Zeroconf Service " + std::to_wstring(i);
        const RecordedEvent* event = FindNamed(recorder.events, name);
        ASSERT_NE(event, nullptr) << "missing " << i;
        EXPECT_EQ(CountNamed(recorder.events, name), 1u);
        EXPECT_EQ(event->address.ipv4Address, kResponder);
        EXPECT_EQ(event->address.port, 9000 + i);
        EXPECT_EQ(event->txt, "path=/zeroconf/" + std::to_string(i) + std::string(2, '\0'));
    }
}

void ExpectHostileOutcome(const std::vector<RecordedEvent>& events) {
    std::set<std::wstring> names;
    for (const RecordedEvent& event : events) {
        EXPECT_TRUE(names.insert(event.name).second) << "reported twice";
        EXPECT_EQ(event.name.find(L"Malformed"), std::wstring::npos) << "from a malformed packet";
    }
    const RecordedEvent* good = FindNamed(events, L"Hostile Good");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->address.ipv4Address, 0xC6336407u);  // 198.51.100.7
    EXPECT_EQ(good->address.port, 80);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&good->address);
    EXPECT_EQ(std::vector<uint8_t>(bytes + 4, bytes + 10),
              (std::vector<uint8_t>{0x07, 0x64, 0x33, 0xC6, 0x50, 0x00}));
    EXPECT_EQ(good->txt, std::string("path=/good\0k=v\0\0", 16));
    EXPECT_EQ(CountNamed(events, L"Hostile Twin"), 1u);
    EXPECT_EQ(CountNamed(events, L"HOSTILE TWIN"), 0u) << "names match case-insensitively";
    EXPECT_EQ(FindNamed(events, L"Hostile No Address"), nullptr);
    EXPECT_EQ(FindNamed(events, L"Hostile Goodbye"), nullptr);
    const RecordedEvent* noTxt = FindNamed(events, L"Hostile No TXT");
    ASSERT_NE(noTxt, nullptr);
    EXPECT_EQ(noTxt->txt, std::string(1, '\0'));
    EXPECT_EQ(noTxt->address.port, 82);
    const RecordedEvent* lateAddress = FindNamed(events, L"Hostile Late Address");
    ASSERT_NE(lateAddress, nullptr) << "the missing A was not asked for";
    EXPECT_EQ(lateAddress->address.ipv4Address, 0xC633640Bu);
    const RecordedEvent* lateSrv = FindNamed(events, L"Hostile Late SRV");
    ASSERT_NE(lateSrv, nullptr) << "the missing SRV, TXT and A were not asked for";
    EXPECT_EQ(lateSrv->address.port, 85);
    EXPECT_EQ(lateSrv->txt, std::string("path=/latesrv\0\0", 15));
    EXPECT_NE(FindNamed(events, L"Bad\ufffdUTF8"), nullptr);
    EXPECT_NE(FindNamed(events, L"Zero\ufffdByte"), nullptr);
    EXPECT_EQ(events.size(), 7u);
}

TEST(HostileTest, DropsWhatIsMalformedOrIncompleteAndReportsTheRestOnce) {
    BrowseRecorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    ExpectHostileOutcome(recorder.events);
}

// The responder holds 5353 without sharing it: the library queries from an ephemeral port.
TEST(HostileTest, QueriesFromAnEphemeralPortWhen5353IsTaken) {
    BrowseRecorder recorder;
    ASSERT_TRUE(recorder.Browse(kFolderBrowseMs));
    ExpectSoundDelivery(recorder);
    ExpectHostileOutcome(recorder.events);
}

TEST(HostileTest, AFloodOfInstancesStopsAtTheCap) {
    BrowseRecorder recorder;
    ASSERT_TRUE(recorder.Browse(2000));
    ExpectSoundDelivery(recorder);
    EXPECT_GT(recorder.events.size(), 0u);
    EXPECT_LE(recorder.events.size(), 4096u);
    std::set<std::wstring> names;
    for (const RecordedEvent& event : recorder.events) EXPECT_TRUE(names.insert(event.name).second);
    // And the library still works afterwards.
    BrowseRecorder after;
    EXPECT_TRUE(after.Browse(100));
}

}  // namespace
