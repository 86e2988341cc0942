// mDNS.dll against real responders in the test network (tests/network/testnet); each suite
// expects the responders that tests/network/run-network-tests starts for it. Back-to-back
// browses, reloads and floods are the soak's (tests/soak).
#include <gtest/gtest.h>

#include "tests/network/Browse.h"

namespace {

using namespace testnet;

constexpr DWORD kFolderBrowseMs = 500;

// Calls out of order on a live search are refused, and a stopped search delivers nothing
// more. Type and domain may be given with a trailing dot.
TEST(AvahiTest, CallsOutOfOrderAreRefused) {
    Library dll;
    ASSERT_EQ(dll.initialize(0, 0), kDNSNoErr);
    Browse browse{dll};
    browse.type = L"_http._tcp.";
    browse.domain = L"local.";
    ASSERT_TRUE(browse.Start());
    EXPECT_EQ(dll.start(browse.browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    Sleep(kFolderBrowseMs);
    EXPECT_EQ(dll.stop(browse.browser, 0), kDNSNoErr);
    browse.closed = true;
    EXPECT_EQ(dll.stop(browse.browser, 0), kDNSBadStateErr);
    EXPECT_EQ(dll.start(browse.browser, 2, L"_http._tcp", L".local"), kDNSBadStateErr);
    Sleep(300);
    EXPECT_EQ(dll.release(browse.browser, 0), kDNSNoErr);
    EXPECT_EQ(dll.finalize(), kDNSNoErr);
    browse.ExpectDelivered(Samples());
}

TEST(ZeroconfTest, ListsTheServicesOfBothResponders) {
    Library dll;
    Browse browse{dll};
    ASSERT_TRUE(browse.Run(kFolderBrowseMs));
    std::vector<Service> expected = Samples();
    for (int i = 1; i <= 2; ++i) {
        expected.emplace_back(L"Zeroconf Service " + std::to_wstring(i), 0xC0000201, 9000 + i,
                              "path=/zeroconf/" + std::to_string(i) + '\0' + '\0');
    }
    browse.ExpectDelivered(expected);
}

// The hostile responder's crafted packets come to the sound services once each, nothing from
// the malformed or incomplete ones (nor "HOSTILE TWIN", "Hostile No Address" or "Hostile
// Goodbye"); run twice: once with the responder holding 5353 without sharing it, so that the
// library queries from an ephemeral port.
TEST(HostileTest, DropsWhatIsMalformedOrIncompleteAndReportsTheRestOnce) {
    Library dll;
    Browse browse{dll};
    ASSERT_TRUE(browse.Run(kFolderBrowseMs));
    browse.ExpectDelivered({
        {L"Hostile Good", 0xC6336407, 80, {"path=/good\0k=v\0\0", 16}},  // 198.51.100.7
        {L"Hostile Twin", 0xC6336408, 8080, {"path=/twin\0\0", 12}},
        {L"Hostile No TXT", 0xC6336409, 82, {"", 1}},
        {L"Hostile Late Address", 0xC633640B, 84, {"path=/lateaddr\0\0", 16}},
        {L"Hostile Late SRV", 0xC633640D, 85, {"path=/latesrv\0\0", 15}},
        {L"Bad\ufffdUTF8", 0xC633640C, 86, {"path=/bad\0\0", 11}},
        {L"Zero\ufffdByte", 0xC633640C, 87, {"path=/zero\0\0", 12}},
    });
}

}  // namespace
