#include "discovery/ServiceUrl.h"

#include <new>

namespace {

const wchar_t kScheme[] = L"http://";
// The longest IPv4 address text with its port takes 21 units and the terminator.
constexpr DWORD kAddressTextUnits = 32;
const wchar_t kHexDigits[] = L"0123456789ABCDEF";
constexpr char32_t kReplacementCharacter = 0xFFFD;

// The ASCII units a URL may carry raw: RFC 3986's unreserved and reserved sets and
// "%", so that a path already percent-encoded passes through as it is.
bool IsRawUrlUnit(wchar_t unit) {
    if ((unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z') ||
        (unit >= L'0' && unit <= L'9'))
        return true;
    for (const wchar_t* allowed = L"-._~:/?#[]@!$&'()*+,;=%"; *allowed != 0; ++allowed)
        if (unit == *allowed) return true;
    return false;
}

void AppendEncodedByte(std::wstring& url, unsigned byte) {
    url += L'%';
    url += kHexDigits[(byte >> 4) & 0xF];
    url += kHexDigits[byte & 0xF];
}

void AppendEncodedCodePoint(std::wstring& url, char32_t codePoint) {
    if (codePoint < 0x80) {
        AppendEncodedByte(url, codePoint);
    } else if (codePoint < 0x800) {
        AppendEncodedByte(url, 0xC0 | (codePoint >> 6));
        AppendEncodedByte(url, 0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        AppendEncodedByte(url, 0xE0 | (codePoint >> 12));
        AppendEncodedByte(url, 0x80 | ((codePoint >> 6) & 0x3F));
        AppendEncodedByte(url, 0x80 | (codePoint & 0x3F));
    } else {
        AppendEncodedByte(url, 0xF0 | (codePoint >> 18));
        AppendEncodedByte(url, 0x80 | ((codePoint >> 12) & 0x3F));
        AppendEncodedByte(url, 0x80 | ((codePoint >> 6) & 0x3F));
        AppendEncodedByte(url, 0x80 | (codePoint & 0x3F));
    }
}

// The path comes from any host of the network and the URL may reach a browser's
// command line: nothing but URL characters may pass raw. A surrogate without its
// partner has no UTF-8 form and becomes U+FFFD. The stored path holds at most 255
// units; an item whose field lacks its zero unit is read no further than that.
void AppendPath(std::wstring& url, const WCHAR* path) {
    constexpr size_t kMaxUnits = kServicePathUnits - 1;
    if (path[0] != L'/') url += L'/';
    for (size_t i = 0; i < kMaxUnits && path[i] != 0; ++i) {
        const WCHAR unit = path[i];
        if (unit < 0x80) {
            if (IsRawUrlUnit(unit))
                url += unit;
            else
                AppendEncodedByte(url, unit);
        } else if (IS_HIGH_SURROGATE(unit) && i + 1 < kMaxUnits &&
                   IS_LOW_SURROGATE(path[i + 1])) {
            const char32_t high = unit - 0xD800u;
            const char32_t low = path[i + 1] - 0xDC00u;
            AppendEncodedCodePoint(url, 0x10000 + (high << 10) + low);
            ++i;
        } else if (IS_HIGH_SURROGATE(unit) || IS_LOW_SURROGATE(unit)) {
            AppendEncodedCodePoint(url, kReplacementCharacter);
        } else {
            AppendEncodedCodePoint(url, unit);
        }
    }
}

}  // namespace

AddressToStringFunction g_addressToString = WSAAddressToStringW;

HRESULT BuildServiceUrl(const ServiceItemId* item, std::wstring& url) noexcept {
    sockaddr_in socketAddress = {};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(item->address.port);
    socketAddress.sin_addr.s_addr = htonl(item->address.ipv4Address);

    wchar_t addressText[kAddressTextUnits];
    DWORD addressUnits = kAddressTextUnits;
    if (g_addressToString(reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress,
                          nullptr, addressText, &addressUnits) == SOCKET_ERROR)
        return E_FAIL;

    try {
        std::wstring composed;
        composed.reserve(kServiceUrlMaxUnits);
        composed += kScheme;
        composed += addressText;
        AppendPath(composed, item->path);
        url.swap(composed);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
