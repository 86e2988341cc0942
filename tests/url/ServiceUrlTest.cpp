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

std::wstring Repeat(const std::wstring& piece, size_t count) {
    std::wstring text;
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
}

INT WSAAPI RefuseConversion(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
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

// The mends of the path: a leading "/" when it lacks one, every unit that may not appear
// raw in a URL percent-encoded as UTF-8, an existing "%XX" left alone, plain ASCII as it is.
TEST_F(ServiceUrl, PathIsMendedIntoAUrl) {
    struct Case {
        std::wstring path, expected;
        bool widest = false;  // 255.255.255.255:65535 rather than 192.0.2.1:80
    };
    const Case cases[] = {
        // Every URL character an ASCII path may hold, an existing escape and a stray "%".
        {L"/AZaz09-._~:/?#[]@!$&'()*+,;=%20%7e100%", L"/AZaz09-._~:/?#[]@!$&'()*+,;=%20%7e100%"},
        {L"", L"/"},
        {L"?q=1", L"/?q=1"},
        {L"/a b\" --flag\"", L"/a%20b%22%20--flag%22"},
        {L"/<>\\^`{|}", L"/%3C%3E%5C%5E%60%7B%7C%7D"},
        {L"/\x01\t\n\r\x1F\x7F", L"/%01%09%0A%0D%1F%7F"},  // control units
        {L"/caf\x00E9", L"/caf%C3%A9"},
        {L"/\x0080\x07FF\x0800\xFFFF", L"/%C2%80%DF%BF%E0%A0%80%EF%BF%BF"},
        {L"/\xD83D\xDE00\xDBFF\xDFFF", L"/%F0%9F%98%80%F4%8F%BF%BF"},
        // A surrogate without its partner (alone, at the end, or the pair reversed) has no
        // UTF-8 form: it becomes U+FFFD and the units around it are kept.
        {L"/a\xD800" L"b", L"/a%EF%BF%BDb"},
        {L"/a\xDBFF", L"/a%EF%BF%BD"},
        {L"/\xDE00\xD83D", L"/%EF%BF%BD%EF%BF%BD"},
        // The widest address and the longest paths are never cut.
        {L"/" + std::wstring(254, L'p'), L"/" + std::wstring(254, L'p'), true},
        {std::wstring(255, L'\x4E2D'), L"/" + Repeat(L"%E4%B8%AD", 255), true},
        {std::wstring(255, L'\xDC00'), L"/" + Repeat(L"%EF%BF%BD", 255), true},
        // A high surrogate in the last unit: its partner would lie in the field's zero unit.
        {std::wstring(254, L'p') + L"\xD83D\xDE00", L"/" + std::wstring(254, L'p') + L"%EF%BF%BD"},
        // A field without its zero unit is read no further than it should hold.
        {std::wstring(kServicePathUnits, L'p'), L"/" + std::wstring(255, L'p')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Item item(c.path, c.widest ? 0xFFFFFFFF : 0xC0000201, c.widest ? 65535 : 80);
        const Item before = item;
        std::wstring url = L"previous content";
        ASSERT_EQ(S_OK, BuildServiceUrl(item.get(), url));
        EXPECT_EQ((c.widest ? L"http://255.255.255.255:65535" : L"http://192.0.2.1:80") + c.expected,
                  url);
        EXPECT_EQ(0, std::memcmp(before.raw, item.raw, sizeof item.raw));  // only read
        // The widest address, a "/" put in front of 255 units of three UTF-8 bytes each: the
        // longest URL, and the only ones that long.
        EXPECT_EQ(c.widest && c.path[0] > 0x7F, url.size() == kServiceUrlMaxUnits);
    }
}

TEST_F(ServiceUrl, AddressThatCannotBeWrittenFailsAndLeavesTheUrl) {
    g_addressToString = RefuseConversion;
    Item item(L"/index.html");
    std::wstring url = L"previous content";
    EXPECT_EQ(E_FAIL, BuildServiceUrl(item.get(), url));
    EXPECT_EQ(L"previous content", url);
    g_addressToString = WSAAddressToStringW;
}
