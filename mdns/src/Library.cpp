// The six exported calls of mDNS.dll. Browser handles are numbers from a registry, never
// pointers taken on trust: an unknown, released or forged handle is refused, and a
// released one is never handed out again.
#include <winsock2.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "mdns/include/mDNS.h"
#include "mdns/src/Browser.h"

namespace {

SlimLock g_lock;
int g_initializations = 0;
uintptr_t g_nextHandle = 0x4D440000;
// Kept across DNSServicesInitialize and DNSServicesFinalize, freed when the DLL unloads,
// after any browser left over that may still use it.
mdns::SharedCache g_cache;

// Set as the DLL is detached from a process that ends (DllMain, below).
bool g_processEnding = false;

// Browsers left over are stopped when the DLL unloads, but left to the system when the
// process ends: stopping one takes its locks, which a thread that the end of the process
// killed may hold for ever, and the process would never end.
using BrowserTable = std::map<uintptr_t, std::shared_ptr<mdns::Browser>>;
union LeftOverAtProcessEnd {
    LeftOverAtProcessEnd() : table() {}
    ~LeftOverAtProcessEnd() {
        if (!g_processEnding) table.~BrowserTable();
    }
    BrowserTable table;
} g_browsers;

std::shared_ptr<mdns::Browser> FindBrowser(DNSBrowserRef handle) {
    std::lock_guard<SlimLock> guard(g_lock);
    auto found = g_browsers.table.find(reinterpret_cast<uintptr_t>(handle));
    return found == g_browsers.table.end() ? nullptr : found->second;
}

// Every call is a C entry point: no exception may leave it.
template <typename Body>
DNSStatus Guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kDNSNoMemoryErr;
    } catch (...) {
        return kDNSBadStateErr;
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Called before the DLL's globals are destroyed; `reserved` is set when the process ends.
    if (reason == DLL_PROCESS_DETACH) g_processEnding = reserved != nullptr;
    return TRUE;
}

extern "C" {

MDNS_API DNSStatus MDNS_CALL DNSServicesInitialize(DNSFlags, uint32_t) {
    return Guarded([]() -> DNSStatus {
        std::lock_guard<SlimLock> guard(g_lock);
        if (g_initializations == 0) {
            // Winsock stays loaded for the life of the process: under Wine, a ws2_32.dll
            // unloaded and loaded again (the folder freed and loaded again) refuses every
            // bind.
            HMODULE pinned = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"ws2_32.dll", &pinned);
            WSADATA data;
            if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return kDNSNetworkErr;
        }
        ++g_initializations;
        return kDNSNoErr;
    });
}

MDNS_API DNSStatus MDNS_CALL DNSServicesFinalize(void) {
    return Guarded([]() -> DNSStatus {
        std::vector<std::shared_ptr<mdns::Browser>> left;
        {
            std::lock_guard<SlimLock> guard(g_lock);
            if (g_initializations == 0) return kDNSBadStateErr;
            if (g_initializations == 1) {
                // Joining a browser's thread from within its own callback cannot work.
                for (const auto& entry : g_browsers.table) {
                    if (entry.second->OnOwnThread()) return kDNSBadStateErr;
                }
                for (auto& entry : g_browsers.table) left.push_back(std::move(entry.second));
                g_browsers.table.clear();
            }
            --g_initializations;
        }
        for (const auto& browser : left) browser->Shut();
        left.clear();
        std::lock_guard<SlimLock> guard(g_lock);
        if (g_initializations == 0 && g_browsers.table.empty()) WSACleanup();
        return kDNSNoErr;
    });
}

MDNS_API DNSStatus MDNS_CALL DNSBrowserCreateW(DNSFlags, DNSBrowserCallBack callback,
                                               void* context, DNSBrowserRef* outBrowser) {
    return Guarded([&]() -> DNSStatus {
        if (!outBrowser) return kDNSBadParamErr;
        *outBrowser = nullptr;
        if (!callback) return kDNSBadParamErr;
        std::lock_guard<SlimLock> guard(g_lock);
        if (g_initializations == 0) return kDNSBadStateErr;
        g_nextHandle += 4;
        const auto handle = reinterpret_cast<DNSBrowserRef>(g_nextHandle);
        g_browsers.table.emplace(g_nextHandle,
                                 std::make_shared<mdns::Browser>(callback, context, handle, g_cache));
        *outBrowser = handle;
        return kDNSNoErr;
    });
}

MDNS_API DNSStatus MDNS_CALL DNSBrowserStartServiceSearchW(DNSBrowserRef browser, DNSFlags flags,
                                                           const wchar_t* type,
                                                           const wchar_t* domain) {
    return Guarded([&]() -> DNSStatus {
        const auto found = FindBrowser(browser);
        if (!found) return kDNSBadReferenceErr;
        if (!type || !domain) return kDNSBadParamErr;
        return found->Start(type, domain, flags);
    });
}

MDNS_API DNSStatus MDNS_CALL DNSBrowserStopServiceSearch(DNSBrowserRef browser, DNSFlags) {
    return Guarded([&]() -> DNSStatus {
        const auto found = FindBrowser(browser);
        if (!found) return kDNSBadReferenceErr;
        return found->Stop();
    });
}

MDNS_API DNSStatus MDNS_CALL DNSBrowserRelease(DNSBrowserRef browser, DNSFlags) {
    return Guarded([&]() -> DNSStatus {
        std::shared_ptr<mdns::Browser> found;
        {
            std::lock_guard<SlimLock> guard(g_lock);
            auto entry = g_browsers.table.find(reinterpret_cast<uintptr_t>(browser));
            if (entry == g_browsers.table.end()) return kDNSBadReferenceErr;
            if (entry->second->OnOwnThread()) return kDNSBadStateErr;
            found = std::move(entry->second);
            g_browsers.table.erase(entry);
        }
        return found->Shut();
    });
}

}  // extern "C"
