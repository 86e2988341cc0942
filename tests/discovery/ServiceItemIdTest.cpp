#include "discovery/ServiceItemId.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

// Every address byte distinct, so that a byte not carried along shows.
ServiceAddress SampleAddress() {
    ServiceAddress address;
    for (size_t i = 0; i < sizeof address; ++i) reinterpret_cast<BYTE*>(&address)[i] = BYTE(0xA0 + i);
    address.ipv4Address = 0xC0000201;  // 192.0.2.1
    address.port = 80;
    return address;
}

struct Item {
    LPITEMIDLIST pidl = nullptr;
    Item(const std::wstring& name, const std::wstring& path) {
        ServiceAddress address = SampleAddress();
        EXPECT_EQ(S_OK, CreateServiceItemId(name.c_str(), &address, path.c_str(), &pidl));
    }
    ~Item() { CoTaskMemFree(pidl); }
    ServiceItemId* operator->() const { return reinterpret_cast<ServiceItemId*>(pidl); }
};

}  // namespace

// Name and path are cut at 127 and 255 units, zero-filled after, and a cut never splits a
// surrogate pair: one straddling the limit is left out whole, one ending at it is kept.
TEST(ServiceItemId, NameAndPathLimits) {
    const std::wstring pair = L"\xD83D\xDE00";
    const struct {
        std::wstring name, path;
        size_t keptName, keptPath;
    } cases[] = {
        {L"", L"", 0, 0},
        {std::wstring(127, L'n'), std::wstring(255, L'p'), 127, 255},
        {std::wstring(128, L'n'), std::wstring(256, L'p'), 127, 255},
        {std::wstring(200, L'n'), std::wstring(300, L'p'), 127, 255},
        {std::wstring(126, L'a') + pair + L"tail", std::wstring(254, L'/') + pair, 126, 254},
        {std::wstring(125, L'a') + pair, std::wstring(253, L'/') + pair, 127, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Item item(c.name, c.path);
        EXPECT_EQ(c.name.substr(0, c.keptName), item->name);
        EXPECT_EQ(c.path.substr(0, c.keptPath), item->path);
        for (size_t i = c.keptName; i < kServiceNameUnits; ++i) EXPECT_EQ(0, item->name[i]);
        for (size_t i = c.keptPath; i < kServicePathUnits; ++i) EXPECT_EQ(0, item->path[i]);
        EXPECT_EQ(kServiceItemSize, item->cb);
        EXPECT_EQ(0, item->terminator);
        const ServiceAddress original = SampleAddress();
        EXPECT_EQ(0, std::memcmp(&item->address, &original, sizeof original));
    }
}

// A copy is a new item equal in every field; bytes that the shell may have left after the
// zero units of the source are not carried into it.
TEST(ServiceItemId, CopyPolicyMakesAnEqualIndependentItem) {
    Item source(L"ab", L"/x");
    BYTE clean[sizeof(ServiceItemId)];
    std::memcpy(clean, source.pidl, sizeof clean);
    source->name[5] = L'Z';
    source->path[9] = L'Z';
    LPITEMIDLIST copy = nullptr;
    ASSERT_EQ(S_OK, PidlCopyPolicy::copy(&copy, &source.pidl));
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(source.pidl, copy);
    const BYTE* copied = reinterpret_cast<const BYTE*>(copy);
    EXPECT_EQ(0, std::memcmp(copied, clean, offsetof(ServiceItemId, padding)));
    EXPECT_EQ(0, std::memcmp(copied + 260, clean + 260, sizeof clean - 260));
    PidlCopyPolicy::destroy(&copy);
    EXPECT_EQ(nullptr, copy);
}
