#include <winsock2.h>

#include "discovery/ServiceUrl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// An item as the shell hands it back, filler where the URL must not read.
struct Item {
    BYTE raw[sizeof(ServiceItemId)] = {};
    explicit Item(const std::wstring& path, uint32_t ipv4 = 0xC0000201, uint16_t port = 80) {
        std::memset(&get()->address, 0x5A, sizeof(ServiceAddress));
        get()->address.ipv4Address = ipv4;
        get()->address.port = port;
        path.copy(get()->path, kServicePathUnits);
        get()->terminator = L'X';
    }
    ServiceItemId* get() { return reinterpret_cast<ServiceItemId*>(raw); }
};

INT WSAAPI RefuseConversion(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
}

// The address conversion needs the sockets library, started once for the whole program.
const int g_socketsStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data);
}();

}  // namespace

// The path gets a leading "/" and "%XX" UTF-8 for each unit a URL may not hold raw.
TEST(ServiceUrl, PathIsMendedIntoAUrl) {
    ASSERT_EQ(0, g_socketsStarted);
    const struct {
        std::wstring path, expected;
    } cases[] = {
        // Every URL character an ASCII path may hold, an existing escape and a stray "%".
        {L"/AZaz09-._~:/?#[]@!$&'()*+,;=%20%7e100%", L"/AZaz09-._~:/?#[]@!$&'()*+,;=%20%7e100%"},
        {L"?q=1", L"/?q=1"},
        // A command line's space and quote, the rest of ASCII's punctuation, control units.
        {L"/a b\" --flag\"<>\\^`{|}\x01\t\x7F",
         L"/a%20b%22%20--flag%22%3C%3E%5C%5E%60%7B%7C%7D%01%09%7F"},
        {L"/\x0080\x07FF\x0800\xFFFF", L"/%C2%80%DF%BF%E0%A0%80%EF%BF%BF"},
        {L"/\xD83D\xDE00\xDBFF\xDFFF", L"/%F0%9F%98%80%F4%8F%BF%BF"},
        // An unpaired surrogate (alone, at the end, reversed) becomes U+FFFD.
        {L"/a\xD800" L"b", L"/a%EF%BF%BDb"},
        {L"/\xDE00\xD83D", L"/%EF%BF%BD%EF%BF%BD"},
        // A high surrogate in the last unit: its partner would lie in the field's zero unit.
        {std::wstring(254, L'p') + L"\xD83D\xDE00", L"/" + std::wstring(254, L'p') + L"%EF%BF%BD"},
        // A field without its zero unit is read no further than it should hold.
        {std::wstring(kServicePathUnits, L'p'), L"/" + std::wstring(255, L'p')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Item item(c.path);
        std::wstring url = L"previous content";
        ASSERT_EQ(S_OK, BuildServiceUrl(item.get(), url));
        EXPECT_EQ(L"http://192.0.2.1:80" + c.expected, url);
    }
    // The longest URL there is: the widest address, "/", 255 units of 3 UTF-8 bytes each.
    Item widest(std::wstring(255, L'\x4E2D'), 0xFFFFFFFF, 65535);
    std::wstring expected = L"http://255.255.255.255:65535/", url;
    for (int i = 0; i < 255; ++i) expected += L"%E4%B8%AD";
    ASSERT_EQ(S_OK, BuildServiceUrl(widest.get(), url));
    EXPECT_EQ(expected, url);
    EXPECT_EQ(kServiceUrlMaxUnits, url.size());
}

TEST(ServiceUrl, AddressThatCannotBeWrittenFailsAndLeavesTheUrl) {
    g_addressToString = RefuseConversion;
    Item item(L"/index.html");
    std::wstring url = L"previous content";
    EXPECT_EQ(E_FAIL, BuildServiceUrl(item.get(), url));
    EXPECT_EQ(L"previous content", url);
    g_addressToString = WSAAddressToStringW;
}
