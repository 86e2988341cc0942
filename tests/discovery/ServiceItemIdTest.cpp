#include "discovery/ServiceItemId.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

// The first `kept` units of `text`, zero-filled to `units`: a field as the item stores it.
std::wstring Field(const std::wstring& text, size_t kept, size_t units) {
    return text.substr(0, kept) + std::wstring(units - kept, L'\0');
}

}  // namespace

// Name and path cut at 127 and 255 units, never inside a pair; a copy ignores overwritten ends.
TEST(ServiceItemId, NameAndPathLimitsAndCopies) {
    const std::wstring pair = L"\xD83D\xDE00";
    const struct {
        std::wstring name, path;
        size_t keptName, keptPath;
    } cases[] = {
        {std::wstring(128, L'n'), std::wstring(256, L'p'), 127, 255},
        {std::wstring(126, L'a') + pair + L"tail", std::wstring(254, L'/') + pair, 126, 254},
        {std::wstring(125, L'a') + pair, std::wstring(253, L'/') + pair, 127, 255},
    };
    ServiceAddress address;  // every byte distinct, so that a byte not carried along shows
    BYTE* const bytes = reinterpret_cast<BYTE*>(&address);
    for (size_t i = 0; i < sizeof address; ++i) bytes[i] = BYTE(0xA0 + i);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        LPITEMIDLIST pidl = nullptr;
        ASSERT_EQ(S_OK, CreateServiceItemId(c.name.c_str(), &address, c.path.c_str(), &pidl));
        ServiceItemId* item = reinterpret_cast<ServiceItemId*>(pidl);
        EXPECT_EQ(Field(c.name, c.keptName, kServiceNameUnits),
                  std::wstring(item->name, kServiceNameUnits));
        EXPECT_EQ(Field(c.path, c.keptPath, kServicePathUnits),
                  std::wstring(item->path, kServicePathUnits));
        EXPECT_EQ(kServiceItemSize, item->cb);
        EXPECT_EQ(0, item->terminator);
        EXPECT_EQ(0, std::memcmp(&item->address, &address, sizeof address));

        BYTE clean[sizeof(ServiceItemId)];
        std::memcpy(clean, item, sizeof clean);
        item->name[kServiceNameUnits - 1] = L'Z';
        item->path[kServicePathUnits - 1] = L'Z';
        LPITEMIDLIST copy = nullptr;
        ASSERT_EQ(S_OK, PidlCopyPolicy::copy(&copy, &pidl));
        const BYTE* copied = reinterpret_cast<const BYTE*>(copy);
        const size_t after = offsetof(ServiceItemId, address);
        EXPECT_EQ(0, std::memcmp(copied, clean, offsetof(ServiceItemId, padding)));
        EXPECT_EQ(0, std::memcmp(copied + after, clean + after, sizeof clean - after));
        PidlCopyPolicy::destroy(&copy);
        CoTaskMemFree(pidl);
    }
}
