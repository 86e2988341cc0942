// Which domains a machine browses beyond the link (RFC 6763 §11): the names it asks for
// them, made from its DNS configuration, and the bounded list of domains the answers name.
#ifndef MDNS_WIRE_BROWSEDOMAINS_H
#define MDNS_WIRE_BROWSEDOMAINS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

// Browse domains kept at most, and configured domains and networks asked about at most.
constexpr size_t kMaxBrowseDomains = 8;
constexpr size_t kMaxConfiguredDomains = 8;
constexpr size_t kMaxNetworks = 4;

struct NetworkPrefix {
    uint32_t address = 0;  // any address in the network: 192.0.2.1 is 0xC0000201
    uint32_t prefixLength = 0;
};

// The PTR names to ask: lb._dns-sd._udp (the domains to browse without being asked) and
// db._dns-sd._udp (the default browse domain) at each configured domain (dotted UTF-8,
// as the platform gives it) and at each network in its in-addr.arpa form. Each name once,
// in that order; domains in .local (multicast's own), malformed ones and networks of no
// sense (/0, over /32) are left out, as is everything past the bounds above.
std::vector<Name> BrowseDomainQueries(const std::vector<std::string>& domains,
                                      const std::vector<NetworkPrefix>& networks);

// Adds `domain`, named by a browse-domain answer, to `domains`, unless it is there already,
// is the root or in .local, would make `service` in it a name too long to ask for, or
// the list is full. Whether it was added.
bool AddBrowseDomain(std::vector<Name>& domains, const Name& domain, const Name& service);

}  // namespace mdns::wire

#endif
