// Records as the DNS tests write them; a zone's SOA's MINIMUM bounds how long an absence is kept.
#pragma once

#include <utility>

#include "mdns/wire/DnsMessage.h"

inline mdns::wire::ResourceRecord Record(mdns::wire::Name name, uint16_t type, uint32_t ttl) {
    mdns::wire::ResourceRecord record;
    record.name = std::move(name);
    record.type = type;
    record.ttl = ttl;
    return record;
}

inline mdns::wire::ResourceRecord Soa(mdns::wire::Name zone, uint32_t ttl, uint16_t minimum) {
    mdns::wire::ResourceRecord soa = Record(std::move(zone), 6, ttl);
    soa.rdata.assign(22, 0);  // two root names and five numbers, the MINIMUM last
    soa.rdata[20] = static_cast<uint8_t>(minimum >> 8);
    soa.rdata[21] = static_cast<uint8_t>(minimum);
    return soa;
}
