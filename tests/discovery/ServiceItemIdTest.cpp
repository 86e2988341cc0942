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
    return address;
}

}  // namespace

// Name and path are cut at 127 and 255 units, zero-filled after, and a cut never splits a
// surrogate pair: one straddling the limit is left out whole, one ending at it is kept.
// A copy is a new item equal in every field but the padding, even when the shell has
// written over the last unit of each field, after the source's zero units.
TEST(ServiceItemId, NameAndPathLimitsAndCopies) {
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
    const ServiceAddress address = SampleAddress();
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        LPITEMIDLIST pidl = nullptr;
        ASSERT_EQ(S_OK, CreateServiceItemId(c.name.c_str(), &address, c.path.c_str(), &pidl));
        ServiceItemId* item = reinterpret_cast<ServiceItemId*>(pidl);
        EXPECT_EQ(c.name.substr(0, c.keptName), item->name);
        EXPECT_EQ(c.path.substr(0, c.keptPath), item->path);
        for (size_t i = c.keptName; i < kServiceNameUnits; ++i) EXPECT_EQ(0, item->name[i]);
        for (size_t i = c.keptPath; i < kServicePathUnits; ++i) EXPECT_EQ(0, item->path[i]);
        EXPECT_EQ(kServiceItemSize, item->cb);
        EXPECT_EQ(0, item->terminator);
        EXPECT_EQ(0, std::memcmp(&item->address, &address, sizeof address));

        BYTE clean[sizeof(ServiceItemId)];
        std::memcpy(clean, item, sizeof clean);
        item->name[kServiceNameUnits - 1] = L'Z';
        item->path[kServicePathUnits - 1] = L'Z';
        LPITEMIDLIST copy = nullptr;
        ASSERT_EQ(S_OK, PidlCopyPolicy::copy(&copy, &pidl));
        EXPECT_NE(pidl, copy);
        const BYTE* copied = reinterpret_cast<const BYTE*>(copy);
        const size_t after = offsetof(ServiceItemId, address);
        EXPECT_EQ(0, std::memcmp(copied, clean, offsetof(ServiceItemId, padding)));
        EXPECT_EQ(0, std::memcmp(copied + after, clean + after, sizeof clean - after));
        PidlCopyPolicy::destroy(&copy);
        EXPECT_EQ(nullptr, copy);
        CoTaskMemFree(pidl);
    }
}
