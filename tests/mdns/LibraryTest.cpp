// The calls of mDNS.dll with bad arguments and out of order. No search is started with
// good arguments here (that would send): those cases run in the test network.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mdns/include/mDNS.h"

namespace {

void MDNS_CALL Ignore(void*, DNSBrowserRef, intptr_t, const BrowserEvent*) {}

DNSBrowserRef Handle(uintptr_t value) { return reinterpret_cast<DNSBrowserRef>(value); }

// Every call that takes a handle refuses one that the library does not hold.
void ExpectUnknown(DNSBrowserRef handle) {
    EXPECT_EQ(DNSBrowserStartServiceSearchW(handle, 2, L"_http._tcp", L".local"),
              kDNSBadReferenceErr);
    EXPECT_EQ(DNSBrowserStopServiceSearch(handle, 0), kDNSBadReferenceErr);
    EXPECT_EQ(DNSBrowserRelease(handle, 0), kDNSBadReferenceErr);
}

TEST(LibraryTest, BadArgumentsAndUnknownHandlesAreRefused) {
    DNSBrowserRef browser = Handle(0x1234);
    EXPECT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSBadStateErr) << "too early";
    EXPECT_EQ(browser, nullptr);
    ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
    browser = Handle(0x1234);
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

    // Handles the library never gave out: null, forged, the address of real memory, and one
    // next to a real one; then the real one once released.
    int memory[16] = {};
    for (uintptr_t unknown : {uintptr_t{0}, uintptr_t{1}, reinterpret_cast<uintptr_t>(memory),
                              reinterpret_cast<uintptr_t>(browser) + 1})
        ExpectUnknown(Handle(unknown));
    EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSNoErr);
    ExpectUnknown(browser);
    EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr) << "finalised twice";
}

// Initialising nests; the last finalise releases what is left; no handle is given out twice.
TEST(LibraryTest, InitialiseNestsAndFinalizeReleasesWhatIsLeft) {
    std::set<DNSBrowserRef> seen;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
        ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
        DNSBrowserRef browser = nullptr;
        ASSERT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSNoErr);
        EXPECT_TRUE(seen.insert(browser).second);
        EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
        EXPECT_EQ(DNSBrowserStopServiceSearch(browser, 0), kDNSBadStateErr) << "initialised once";
        EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
        ExpectUnknown(browser);
    }
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr);
}

}  // namespace
