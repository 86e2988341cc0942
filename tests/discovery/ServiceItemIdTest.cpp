#include "discovery/ServiceItemId.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

const BYTE* Bytes(LPCITEMIDLIST item) { return reinterpret_cast<const BYTE*>(item); }

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
    const ServiceItemId* operator->() const { return AsServiceItem(pidl); }
};

size_t UnitsUpToZero(const WCHAR* field, size_t limit) {
    size_t n = 0;
    while (n < limit && field[n]) ++n;
    return n;
}

}  // namespace

TEST(ServiceItemId, FixedFieldsAndAddressBytes) {
    Item item(L"Printer", L"/index.html");
    const BYTE* bytes = Bytes(item.pidl);
    EXPECT_EQ(792, item->cb);
    EXPECT_EQ(0x18, bytes[0]);
    EXPECT_EQ(0x03, bytes[1]);
    EXPECT_EQ(0, bytes[792]);
    EXPECT_EQ(0, bytes[793]);
    // The name fills offsets 2..15; zero units from 16 up to and including 257.
    EXPECT_EQ(0, std::memcmp(bytes + 2, L"Printer", 14));
    for (size_t offset = 16; offset < 258; ++offset) EXPECT_EQ(0, bytes[offset]) << offset;
    // 192.0.2.1 port 80 as the library's bytes, and every other address byte carried along.
    const BYTE expectedAddress[] = {0x01, 0x02, 0x00, 0xC0, 0x50, 0x00};
    EXPECT_EQ(0, std::memcmp(bytes + 264, expectedAddress, sizeof expectedAddress));
    ServiceAddress original = SampleAddress();
    EXPECT_EQ(0, std::memcmp(bytes + 260, &original, sizeof original));
    EXPECT_EQ(std::wstring(L"/index.html"), item->path);
}

TEST(ServiceItemId, NameAndPathLimits) {
    struct Case {
        size_t nameUnits, pathUnits, keptName, keptPath;
    } cases[] = {{0, 0, 0, 0}, {127, 255, 127, 255}, {128, 256, 127, 255}, {200, 300, 127, 255}};
    for (const Case& c : cases) {
        Item item(std::wstring(c.nameUnits, L'n'), std::wstring(c.pathUnits, L'p'));
        EXPECT_EQ(c.keptName, UnitsUpToZero(item->name, 128)) << c.nameUnits;
        EXPECT_EQ(c.keptPath, UnitsUpToZero(item->path, 256)) << c.pathUnits;
        EXPECT_EQ(0, item->name[127]);
        EXPECT_EQ(0, item->path[255]);
        for (size_t i = c.keptName; i < 128; ++i) EXPECT_EQ(0, item->name[i]);
        for (size_t i = c.keptPath; i < 256; ++i) EXPECT_EQ(0, item->path[i]);
        EXPECT_EQ(792, item->cb);
        EXPECT_EQ(0, item->terminator);
    }
}

TEST(ServiceItemId, CutNeverSplitsASurrogatePair) {
    // A pair straddling unit 127 of the name or unit 255 of the path is left out whole.
    std::wstring name(126, L'a');
    name += L"\xD83D\xDE00tail";
    std::wstring path(254, L'/');
    path += L"\xD83D\xDE00";
    Item cut(name, path);
    EXPECT_EQ(126u, UnitsUpToZero(cut->name, 128));
    EXPECT_EQ(254u, UnitsUpToZero(cut->path, 256));

    // A pair that ends exactly at the limit is kept.
    std::wstring fits(125, L'a');
    fits += L"\xD83D\xDE00";
    Item kept(fits, L"/");
    EXPECT_EQ(127u, UnitsUpToZero(kept->name, 128));
    EXPECT_EQ(0xDE00, kept->name[126]);
}

TEST(ServiceItemId, CopyPolicyMakesAnEqualIndependentItem) {
    Item source(L"Camera", L"/live");
    LPITEMIDLIST copy = nullptr;
    ASSERT_EQ(S_OK, PidlCopyPolicy::copy(&copy, &source.pidl));
    ASSERT_NE(nullptr, copy);
    EXPECT_NE(source.pidl, copy);
    EXPECT_EQ(0, std::memcmp(Bytes(copy), Bytes(source.pidl), 258));
    EXPECT_EQ(0, std::memcmp(Bytes(copy) + 260, Bytes(source.pidl) + 260, 534));
    PidlCopyPolicy::destroy(&copy);
    EXPECT_EQ(nullptr, copy);
}

TEST(ServiceItemId, CopyOfAnItemWithBytesAfterItsTerminators) {
    Item source(L"ab", L"/x");
    // Bytes that the shell may have left after the zero units are not carried into a copy.
    auto* record = const_cast<ServiceItemId*>(source.operator->());
    record->name[5] = L'Z';
    record->path[9] = L'Z';
    LPITEMIDLIST copy = nullptr;
    ASSERT_EQ(S_OK, PidlCopyPolicy::copy(&copy, &source.pidl));
    for (size_t i = 2; i < 128; ++i) EXPECT_EQ(0, AsServiceItem(copy)->name[i]);
    for (size_t i = 2; i < 256; ++i) EXPECT_EQ(0, AsServiceItem(copy)->path[i]);
    CoTaskMemFree(copy);
}
