#include <winsock2.h>

#include "discovery/ServiceUrl.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <string>

namespace {

ServiceAddress MakeAddress(uint32_t ipv4, uint16_t port) {
    ServiceAddress address;
    std::memset(&address, 0x5A, sizeof address);  // the library's own bytes are never read
    address.ipv4Address = ipv4;
    address.port = port;
    return address;
}

struct Item {
    LPITEMIDLIST pidl = nullptr;
    Item(const std::wstring& path, uint32_t ipv4 = 0xC0000201, uint16_t port = 80) {
        ServiceAddress address = MakeAddress(ipv4, port);
        EXPECT_EQ(S_OK, CreateServiceItemId(L"Service", &address, path.c_str(), &pidl));
    }
    ~Item() { CoTaskMemFree(pidl); }
    const ServiceItemId* get() const { return AsServiceItem(pidl); }
};

std::wstring UrlOf(const std::wstring& path) {
    Item item(path);
    std::wstring url = L"previous content";
    EXPECT_EQ(S_OK, BuildServiceUrl(item.get(), url));
    return url;
}

std::wstring Repeat(const std::wstring& piece, size_t count) {
    std::wstring text;
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
}

class ServiceUrl : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 0), &data));
    }
    void TearDown() override { WSACleanup(); }
};

}  // namespace

TEST_F(ServiceUrl, PlainPathsAreAppendedAsStored) {
    EXPECT_EQ(L"http://192.0.2.1:80/index.html", UrlOf(L"/index.html"));
    EXPECT_EQ(L"http://192.0.2.1:80/", UrlOf(L"/"));
    // Every URL character an ASCII path may hold, an existing escape and a stray "%".
    const std::wstring urlCharacters =
        L"/AZaz09-._~:/?#[]@!$&'()*+,;=%20%7e100%";
    EXPECT_EQ(L"http://192.0.2.1:80" + urlCharacters, UrlOf(urlCharacters));
}

TEST_F(ServiceUrl, AddressAndPortComeFromTheirFixedOffsets) {
    BYTE raw[sizeof(ServiceItemId)] = {};
    auto* item = reinterpret_cast<ServiceItemId*>(raw);
    std::memset(&item->address, 0xEE, sizeof item->address);
    const BYTE address[] = {0x01, 0x02, 0x00, 0xC0, 0x50, 0x00};
    std::memcpy(raw + 264, address, sizeof address);
    item->path[0] = L'/';
    std::wstring url;
    ASSERT_EQ(S_OK, BuildServiceUrl(item, url));
    EXPECT_EQ(L"http://192.0.2.1:80/", url);
}

TEST_F(ServiceUrl, LongestAddressAndPathAreNeverCut) {
    Item widest(L"/", 0xFFFFFFFF, 65535);
    std::wstring url;
    ASSERT_EQ(S_OK, BuildServiceUrl(widest.get(), url));
    EXPECT_EQ(L"http://255.255.255.255:65535/", url);

    const std::wstring longPath = L"/" + std::wstring(254, L'p');
    Item plain(longPath, 0xFFFFFFFF, 65535);
    ASSERT_EQ(S_OK, BuildServiceUrl(plain.get(), url));
    EXPECT_EQ(7u + 21u + 255u, url.size());
    EXPECT_EQ(L"http://255.255.255.255:65535" + longPath, url);

    // 255 units of three UTF-8 bytes each, with the "/" put in front: the longest URL.
    Item wide(std::wstring(255, L'\x4E2D'), 0xFFFFFFFF, 65535);
    ASSERT_EQ(S_OK, BuildServiceUrl(wide.get(), url));
    EXPECT_EQ(kServiceUrlMaxUnits, url.size());
    EXPECT_EQ(L"http://255.255.255.255:65535/" + Repeat(L"%E4%B8%AD", 255), url);

    // The same for 255 surrogates without partners.
    Item lone(std::wstring(255, L'\xDC00'), 0xFFFFFFFF, 65535);
    ASSERT_EQ(S_OK, BuildServiceUrl(lone.get(), url));
    EXPECT_EQ(kServiceUrlMaxUnits, url.size());
    EXPECT_EQ(L"http://255.255.255.255:65535/" + Repeat(L"%EF%BF%BD", 255), url);
}

TEST_F(ServiceUrl, PathWithoutLeadingSlashGetsOneAndTheItemKeepsItsPath) {
    Item item(L"index.html");
    BYTE before[sizeof(ServiceItemId)];
    std::memcpy(before, item.pidl, sizeof before);
    std::wstring url;
    ASSERT_EQ(S_OK, BuildServiceUrl(item.get(), url));
    EXPECT_EQ(L"http://192.0.2.1:80/index.html", url);
    EXPECT_EQ(0, std::memcmp(before, item.pidl, sizeof before));
    EXPECT_EQ(std::wstring(L"index.html"), item.get()->path);

    EXPECT_EQ(L"http://192.0.2.1:80/", UrlOf(L""));
    EXPECT_EQ(L"http://192.0.2.1:80/?q=1", UrlOf(L"?q=1"));
}

TEST_F(ServiceUrl, HostileAsciiIsPercentEncoded) {
    EXPECT_EQ(L"http://192.0.2.1:80/a%20b%22%20--flag%22", UrlOf(L"/a b\" --flag\""));
    EXPECT_EQ(L"http://192.0.2.1:80/%3C%3E%5C%5E%60%7B%7C%7D", UrlOf(L"/<>\\^`{|}"));
    std::wstring controls = L"/";
    std::wstring expected = L"http://192.0.2.1:80/";
    const wchar_t hex[] = L"0123456789ABCDEF";
    for (wchar_t unit = 1; unit < 0x20; ++unit) {
        controls += unit;
        expected += std::wstring(L"%") + hex[unit >> 4] + hex[unit & 0xF];
    }
    controls += L'\x7F';
    expected += L"%7F";
    EXPECT_EQ(expected, UrlOf(controls));
}

TEST_F(ServiceUrl, NonAsciiIsEncodedAsUtf8) {
    EXPECT_EQ(L"http://192.0.2.1:80/caf%C3%A9", UrlOf(L"/caf\x00E9"));
    EXPECT_EQ(L"http://192.0.2.1:80/%C2%80%DF%BF%E0%A0%80%EF%BF%BF",
              UrlOf(L"/\x0080\x07FF\x0800\xFFFF"));
    EXPECT_EQ(L"http://192.0.2.1:80/%F0%9F%98%80%F4%8F%BF%BF",
              UrlOf(L"/\xD83D\xDE00\xDBFF\xDFFF"));
    // A surrogate without its partner (alone, at the end, or the pair reversed) has no
    // UTF-8 form: it becomes U+FFFD and the units around it are kept.
    EXPECT_EQ(L"http://192.0.2.1:80/a%EF%BF%BDb", UrlOf(L"/a\xD800" L"b"));
    EXPECT_EQ(L"http://192.0.2.1:80/a%EF%BF%BD", UrlOf(L"/a\xDBFF"));
    EXPECT_EQ(L"http://192.0.2.1:80/%EF%BF%BD%EF%BF%BD", UrlOf(L"/\xDE00\xD83D"));
}

TEST_F(ServiceUrl, PathFieldWithoutItsZeroUnitIsReadNoFurther) {
    BYTE raw[sizeof(ServiceItemId) + 64];
    std::memset(raw, 0, sizeof raw);
    auto* item = reinterpret_cast<ServiceItemId*>(raw);
    item->address = MakeAddress(0xC0000201, 80);
    for (size_t i = 0; i < kServicePathUnits; ++i) item->path[i] = L'p';
    item->terminator = L'X';
    std::wstring url;
    ASSERT_EQ(S_OK, BuildServiceUrl(item, url));
    EXPECT_EQ(L"http://192.0.2.1:80/" + std::wstring(255, L'p'), url);
}

TEST_F(ServiceUrl, AddressThatCannotBeWrittenFailsAndLeavesTheUrl) {
    struct RefusingConversion {
        static INT WSAAPI Convert(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD) {
            WSASetLastError(WSAEFAULT);
            return SOCKET_ERROR;
        }
    };
    const AddressToStringFunction original = g_addressToString;
    g_addressToString = RefusingConversion::Convert;
    Item item(L"/index.html");
    std::wstring url = L"previous content";
    EXPECT_EQ(E_FAIL, BuildServiceUrl(item.get(), url));
    EXPECT_EQ(L"previous content", url);
    g_addressToString = original;
}
