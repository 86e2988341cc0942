// One question to a unicast DNS server (RFC 1035) and the reading of its answer. A reply is
// matched to its question by id and by the question it echoes; anything else is dropped.
#ifndef MDNS_WIRE_UNICASTMESSAGE_H
#define MDNS_WIRE_UNICASTMESSAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

// A DNS message over TCP: two length bytes, then at most this many (RFC 1035 §4.2.2).
constexpr size_t kMaxTcpMessageSize = 65535;
// The UDP payload advertised with EDNS(0) (RFC 6891): what passes any path unfragmented.
constexpr uint16_t kUdpPayloadSize = 1232;

// A standard query for `name` and `type` with recursion desired and an EDNS(0) record;
// empty when the name cannot be encoded.
std::vector<uint8_t> BuildUnicastQuery(uint16_t id, const Name& name, uint16_t type);

enum class AnswerKind {
    kNotOurs,      // malformed, a query, another id or another question: dropped
    kTruncated,    // ask again over TCP
    kAnswer,       // `records` holds what the server has (none: no such data)
    kNoSuchName,   // the name does not exist
    kServerError,  // any other response code: ask another server
};

struct UnicastAnswer {
    AnswerKind kind = AnswerKind::kNotOurs;
    // Answers of the type asked, owned by the name asked, class IN; and the A records of
    // the additional section named by an SRV answer (RFC 2782 for the SRV target).
    std::vector<ResourceRecord> records;
    // How long the absence of an answer may be kept (RFC 2308 §5: the least of the SOA's
    // TTL and its MINIMUM field); 0 without a SOA.
    uint32_t negativeTtl = 0;
};

UnicastAnswer ReadUnicastAnswer(const uint8_t* data, size_t size, uint16_t id, const Name& name,
                                uint16_t type);

}  // namespace mdns::wire

#endif
