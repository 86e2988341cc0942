// The machine's DNS configuration as far as browsing beyond the link needs it: the servers
// to ask, the domains it is configured with, and the IPv4 networks of its interfaces.
#ifndef MDNS_SRC_DNSCONFIGURATION_H
#define MDNS_SRC_DNSCONFIGURATION_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mdns/wire/BrowseDomains.h"

namespace mdns {

struct DnsConfiguration {
    // Servers asked at most: the first few of the list, as a resolver uses them.
    static constexpr size_t kMaxServers = 3;

    std::vector<uint32_t> servers;     // IPv4, 192.0.2.1 as 0xC0000201; each once
    std::vector<std::string> domains;  // dotted UTF-8: primary suffix, adapters', search list
    std::vector<wire::NetworkPrefix> networks;
};

// Reads it from the adapters of the machine that are up, the primary DNS suffix and the
// search list; again only when the last read is 30 s old. Under Wine, the adapters carry
// the servers of /etc/resolv.conf and its first search domain as their suffix. Empty parts
// where nothing is configured.
DnsConfiguration CurrentDnsConfiguration();

}  // namespace mdns

#endif
