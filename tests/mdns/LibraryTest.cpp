// The calls of mDNS.dll with bad arguments and out of order. No search is started with
// good arguments here (that would send): those cases run in the test network.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mdns/include/mDNS.h"

namespace {

void MDNS_CALL Ignore(void*, DNSBrowserRef, intptr_t, const BrowserEvent*) {}

TEST(LibraryTest, EveryCallBeforeInitialiseIsRefused) {
    DNSBrowserRef browser = reinterpret_cast<DNSBrowserRef>(0x1234);
    EXPECT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSBadStateErr);
    EXPECT_EQ(browser, nullptr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr);
    EXPECT_EQ(DNSBrowserStartServiceSearchW(nullptr, 2, L"_http._tcp", L".local"), kDNSBadReferenceErr);
    EXPECT_EQ(DNSBrowserStopServiceSearch(nullptr, 0), kDNSBadReferenceErr);
    EXPECT_EQ(DNSBrowserRelease(nullptr, 0), kDNSBadReferenceErr);
}

TEST(LibraryTest, BadArgumentsAndUnknownHandlesAreRefused) {
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    DNSBrowserRef browser = reinterpret_cast<DNSBrowserRef>(0x1234);
    EXPECT_EQ(DNSBrowserCreateW(0, nullptr, nullptr, &browser), kDNSBadParamErr);
    EXPECT_EQ(browser, nullptr);
    EXPECT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, nullptr), kDNSBadParamErr);
    ASSERT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSNoErr);
    ASSERT_NE(browser, nullptr);

    const std::wstring longLabel = L"_" + std::wstring(64, L'x') + L"._tcp", longText(300, L'a');
    const std::pair<const wchar_t*, const wchar_t*> badSearches[] = {
        {nullptr, L".local"}, {L"_http._tcp", nullptr}, {L"", L""}, {L"_http", L"..."},
        {longLabel.c_str(), L".local"}, {L"_http._tcp", longText.c_str()}};
    for (const auto& [type, domain] : badSearches)
        EXPECT_EQ(DNSBrowserStartServiceSearchW(browser, 2, type, domain), kDNSBadParamErr);
    EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSBadStateErr) << "not started";

    // Handles the library never gave out: null, forged, and the address of real memory.
    int memory[16] = {};
    for (DNSBrowserRef unknown : {static_cast<DNSBrowserRef>(nullptr), reinterpret_cast<DNSBrowserRef>(1),
                                  reinterpret_cast<DNSBrowserRef>(memory),
                                  reinterpret_cast<DNSBrowserRef>(reinterpret_cast<uintptr_t>(browser) + 1)}) {
        EXPECT_EQ(DNSBrowserStartServiceSearchW(unknown, 2, L"_http._tcp", L".local"), kDNSBadReferenceErr);
        EXPECT_EQ(DNSBrowserStopServiceSearch(unknown, 0), kDNSBadReferenceErr);
        EXPECT_EQ(DNSBrowserRelease(unknown, 0), kDNSBadReferenceErr);
    }
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSNoErr);
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSBadReferenceErr) << "released twice";
    EXPECT_EQ(DNSBrowserStartServiceSearchW(browser, 2, L"_http._tcp", L".local"), kDNSBadReferenceErr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr) << "finalised twice";
}

TEST(LibraryTest, InitialiseNestsAndFinalizeReleasesWhatIsLeft) {
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    DNSBrowserRef browser = nullptr;
    ASSERT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSNoErr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
    EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSBadStateErr) << "still initialised once";
    EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSBadReferenceErr) << "finalize released it";
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr);
}

TEST(LibraryTest, RepeatedCyclesNeverHandOutAHandleTwice) {
    std::set<DNSBrowserRef> seen;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
        DNSBrowserRef browser = nullptr;
        ASSERT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSNoErr);
        EXPECT_TRUE(seen.insert(browser).second);
        ASSERT_EQ(DNSBrowserRelease(browser, 0), kDNSNoErr);
        ASSERT_EQ(DNSServicesFinalize(), kDNSNoErr);
    }
}

}  // namespace
