#include "mdns/wire/BrowseDomains.h"

#include "mdns/wire/Names.h"

namespace mdns::wire {

namespace {

const char* const kBrowseKinds[] = {"lb", "db"};

size_t WireLength(const Name& name) {
    size_t length = 1;
    for (const std::string& label : name) length += 1 + label.size();
    return length;
}

bool InLocal(const Name& name) { return !name.empty() && LabelEquals(name.back(), "local"); }

// A name as the configuration gives it, or empty when it is not one.
Name ConfiguredDomain(const std::string& dotted) {
    Name name = NameFromDotted(dotted);
    for (const std::string& label : name) {
        if (label.size() > kMaxLabelLength) return {};
    }
    if (InLocal(name)) return {};
    return name;
}

Name ReverseForm(const NetworkPrefix& network) {
    if (network.prefixLength == 0 || network.prefixLength > 32) return {};
    const uint32_t mask = network.prefixLength == 32 ? ~0u : ~(~0u >> network.prefixLength);
    const uint32_t address = network.address & mask;
    Name name;
    for (int shift = 0; shift < 32; shift += 8) name.push_back(std::to_string((address >> shift) & 0xFF));
    name.push_back("in-addr");
    name.push_back("arpa");
    return name;
}

}  // namespace

std::vector<Name> BrowseDomainQueries(const std::vector<std::string>& domains,
                                      const std::vector<NetworkPrefix>& networks) {
    std::vector<Name> bases;
    auto addBase = [&bases](Name base) {
        if (base.empty()) return;
        for (const Name& known : bases) {
            if (NameEquals(known, base)) return;
        }
        bases.push_back(std::move(base));
    };
    for (const std::string& domain : domains) {
        if (bases.size() == kMaxConfiguredDomains) break;
        addBase(ConfiguredDomain(domain));
    }
    const size_t configured = bases.size();
    for (const NetworkPrefix& network : networks) {
        if (bases.size() - configured == kMaxNetworks) break;
        addBase(ReverseForm(network));
    }
    std::vector<Name> queries;
    for (const Name& base : bases) {
        for (const char* kind : kBrowseKinds) {
            Name query{kind, "_dns-sd", "_udp"};
            query.insert(query.end(), base.begin(), base.end());
            if (WireLength(query) <= kMaxNameLength) queries.push_back(std::move(query));
        }
    }
    return queries;
}

bool AddBrowseDomain(std::vector<Name>& domains, const Name& domain, const Name& service) {
    if (domains.size() >= kMaxBrowseDomains || domain.empty() || InLocal(domain)) return false;
    if (WireLength(service) + WireLength(domain) - 1 > kMaxNameLength) return false;
    for (const Name& known : domains) {
        if (NameEquals(known, domain)) return false;
    }
    domains.push_back(domain);
    return true;
}

}  // namespace mdns::wire
