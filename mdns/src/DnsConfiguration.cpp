#include "mdns/src/DnsConfiguration.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "mdns/src/AdapterList.h"
#include "mdns/wire/Utf.h"
#include "runtime/SlimLock.h"

namespace mdns {

namespace {

// Like the link's adapter list, the configuration takes from 20 to several hundred
// milliseconds to read under Wine on a loaded machine: a refresh uses the last one.
constexpr ULONGLONG kFreshMs = 30 * 1000;
const wchar_t kSearchListKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
constexpr DWORD kMaxSearchListBytes = 4096;

// The last configuration read, kept while the library is loaded: at namespace scope, so
// that no thread-safe guard of a function-local static is needed.
SlimLock g_configurationLock;
DnsConfiguration g_configuration;
ULONGLONG g_configurationRead = 0;

std::string ToUtf8(const wchar_t* text) {
    if (!text) return {};
    return wire::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

void AddDomain(DnsConfiguration& configuration, std::string domain) {
    if (domain.empty()) return;
    if (std::find(configuration.domains.begin(), configuration.domains.end(), domain) !=
        configuration.domains.end())
        return;
    configuration.domains.push_back(std::move(domain));
}

uint32_t Ipv4Of(const SOCKET_ADDRESS& address) {
    if (!address.lpSockaddr || address.lpSockaddr->sa_family != AF_INET) return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(address.lpSockaddr)->sin_addr.s_addr);
}

bool Usable(uint32_t ipv4) {
    const uint32_t top = ipv4 >> 24;
    return ipv4 != 0 && top != 127 && (ipv4 >> 16) != 0xA9FE && top < 224;
}

// The primary DNS suffix.
void ReadPrimarySuffix(DnsConfiguration& configuration) {
    ULONG size = 0;
    if (GetNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return;
    std::vector<uint8_t> buffer(size);
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (GetNetworkParams(info, &size) != NO_ERROR) return;
    info->DomainName[sizeof(info->DomainName) - 1] = 0;
    AddDomain(configuration, info->DomainName);
}

// The machine-wide search list: domains separated by commas.
void ReadSearchList(DnsConfiguration& configuration) {
    wchar_t list[kMaxSearchListBytes / sizeof(wchar_t) + 1] = {};
    DWORD bytes = kMaxSearchListBytes;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSearchListKey, L"SearchList", RRF_RT_REG_SZ, nullptr,
                     list, &bytes) != ERROR_SUCCESS)
        return;
    std::wstring rest(list);
    while (!rest.empty()) {
        const size_t comma = rest.find(L',');
        AddDomain(configuration, ToUtf8(rest.substr(0, comma).c_str()));
        if (comma == std::wstring::npos) break;
        rest.erase(0, comma + 1);
    }
}

void ReadAdapters(DnsConfiguration& configuration) {
    std::unique_ptr<unsigned char[]> buffer;
    for (auto* adapter = ReadAdapterList(GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, buffer);
         adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) continue;
        AddDomain(configuration, ToUtf8(adapter->DnsSuffix));
        for (auto* suffix = adapter->FirstDnsSuffix; suffix; suffix = suffix->Next)
            AddDomain(configuration, ToUtf8(suffix->String));
        for (auto* server = adapter->FirstDnsServerAddress; server; server = server->Next) {
            const uint32_t ipv4 = Ipv4Of(server->Address);
            if (ipv4 == 0 || configuration.servers.size() == DnsConfiguration::kMaxServers) continue;
            if (std::find(configuration.servers.begin(), configuration.servers.end(), ipv4) ==
                configuration.servers.end())
                configuration.servers.push_back(ipv4);
        }
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const uint32_t ipv4 = Ipv4Of(unicast->Address);
            if (Usable(ipv4)) configuration.networks.push_back({ipv4, unicast->OnLinkPrefixLength});
        }
    }
}

}  // namespace

DnsConfiguration CurrentDnsConfiguration() {
    std::lock_guard<SlimLock> guard(g_configurationLock);
    const ULONGLONG now = GetTickCount64();
    if (g_configurationRead == 0 || now - g_configurationRead >= kFreshMs) {
        g_configuration = DnsConfiguration();
        ReadPrimarySuffix(g_configuration);
        ReadAdapters(g_configuration);
        ReadSearchList(g_configuration);
        g_configurationRead = now;
    }
    return g_configuration;
}

}  // namespace mdns
