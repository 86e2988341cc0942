#include <winsock2.h>

#include "discovery/ServiceUrl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// An item as the shell hands it back; the address bytes besides number and port are
// filler, which the URL never reads, and so is the unit after the path field.
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

// The mends of the path: a leading "/" when it lacks one, every unit that may not appear
// raw in a URL percent-encoded as UTF-8, an existing "%XX" left alone, plain ASCII as it is.
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
        // A surrogate without its partner (alone, at the end, or the pair reversed) has no
        // UTF-8 form: it becomes U+FFFD and the units around it are kept.
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
    // The widest address, a "/" put in front of 255 units of three UTF-8 bytes each: the
    // longest URL there is, never cut.
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
