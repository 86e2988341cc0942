#include "discovery/TimedBrowse.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "discovery/ServiceItemId.h"
#include "view/CEnumIdList.h"

namespace {

constexpr DWORD kBrowseMilliseconds = 500;
// The link, and beside it the DNS domains the machine is configured with, in the same window.
constexpr DNSFlags kSearchFlags = kDNSBrowserFlagAutoResolve | kDNSBrowserFlagConfiguredDomains;
const wchar_t kDefaultPath[] = L"/";

bool IsPathKey(const char* key, size_t length) {
    static const char kPath[] = "path";
    if (length != 4) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = key[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kPath[i]) return false;
    }
    return true;
}

}  // namespace

const wchar_t kServiceType[] = L"_http._tcp";
const wchar_t kServiceDomain[] = L".local";

std::wstring ExtractTxtPath(const char* txt) {
    std::wstring path(kDefaultPath);
    // Keys are case-insensitive and only a key's first occurrence counts.
    for (const char* entry = txt; *entry != 0; entry += std::strlen(entry) + 1) {
        const size_t length = std::strlen(entry);
        const char* equals = static_cast<const char*>(std::memchr(entry, '=', length));
        const size_t keyLength = equals ? static_cast<size_t>(equals - entry) : length;
        if (!IsPathKey(entry, keyLength)) continue;
        if (!equals || equals[1] == 0) return path;
        const char* value = equals + 1;
        const int units = MultiByteToWideChar(CP_UTF8, 0, value, -1, nullptr, 0);
        if (units <= 1) return path;
        std::wstring converted(static_cast<size_t>(units), L'\0');
        if (MultiByteToWideChar(CP_UTF8, 0, value, -1, &converted[0], units) == 0) return path;
        converted.resize(static_cast<size_t>(units) - 1);
        return converted;
    }
    return path;
}

HRESULT CEnumIdList::BrowseServices() {
    DNSBrowserRef browser = nullptr;
    bool initialised = false;
    bool searched = false;

    if (DNSServicesInitialize(0, 0) == kDNSNoErr) {
        initialised = true;
        if (DNSBrowserCreateW(0, &CEnumIdList::OnBrowserEvent, this, &browser) == kDNSNoErr &&
            DNSBrowserStartServiceSearchW(browser, kSearchFlags, kServiceType, kServiceDomain) ==
                kDNSNoErr) {
            Sleep(kBrowseMilliseconds);
            searched = true;
            DNSBrowserStopServiceSearch(browser, 0);
        }
    }
    if (browser) DNSBrowserRelease(browser, 0);
    if (initialised) DNSServicesFinalize();
    // The library delivers nothing after finalisation: m_items is complete now.
    if (searched) AttachItems();
    return S_OK;
}

void CEnumIdList::AttachItems() {
    if (m_pOwner) {
        m_pOwner->Release();
        m_pOwner = nullptr;
    }
    m_pList = &m_items;
    m_pos = m_items.begin();
}

void MDNS_CALL CEnumIdList::OnBrowserEvent(void* context, DNSBrowserRef, intptr_t,
                                           const BrowserEvent* event) noexcept {
    if (!event || event->type != kDNSBrowserEventTypeResolved || !event->resolved) return;
    const ResolvedServiceData& service = *event->resolved;
    try {
        const std::wstring path = ExtractTxtPath(service.txt);
        LPITEMIDLIST item = nullptr;
        if (FAILED(CreateServiceItemId(service.name, &service.address, path.c_str(), &item)))
            return;
        auto* enumerator = static_cast<CEnumIdList*>(context);
        try {
            enumerator->m_items.push_back(item);
        } catch (const std::bad_alloc&) {
            CoTaskMemFree(item);
        }
    } catch (...) {
        // No memory for the path: the event is dropped; nothing may unwind into the library.
    }
}
