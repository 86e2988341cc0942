// mDNS.dll's handles and initialisation count; no search here (it would send).
#include <gtest/gtest.h>

#include <set>

#include "mdns/include/mDNS.h"

namespace {

void MDNS_CALL Ignore(void*, DNSBrowserRef, intptr_t, const BrowserEvent*) {}

// Initialising nests, as two folders' browses at once do; the last finalise releases what
// is left; a released handle is unknown, and no handle is given out twice.
TEST(LibraryTest, InitialiseNestsAndReleasedHandlesAreUnknown) {
    std::set<DNSBrowserRef> seen;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
        ASSERT_EQ(DNSServicesInitialize(0, 0), kDNSNoErr);
        DNSBrowserRef browsers[2] = {};
        for (DNSBrowserRef& browser : browsers) {
            ASSERT_EQ(DNSBrowserCreateW(0, &Ignore, nullptr, &browser), kDNSNoErr);
            EXPECT_TRUE(seen.insert(browser).second);
        }
        EXPECT_EQ(DNSBrowserRelease(browsers[0], 0), kDNSNoErr);
        EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
        EXPECT_EQ(DNSServicesFinalize(), kDNSNoErr);
        for (DNSBrowserRef browser : browsers)
            EXPECT_EQ(DNSBrowserRelease(browser, 0), kDNSBadReferenceErr);
    }
    EXPECT_EQ(DNSServicesFinalize(), kDNSBadStateErr) << "finalised more often than initialised";
}

}  // namespace
