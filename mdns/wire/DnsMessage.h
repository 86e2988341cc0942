// The parts of a DNS message (RFC 1035 §4) as multicast DNS uses them (RFC 6762 §18).
// Plain data, no Windows header: the codec also builds natively for fuzzing.
#ifndef MDNS_WIRE_DNSMESSAGE_H
#define MDNS_WIRE_DNSMESSAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mdns::wire {

// Largest message accepted or built: an mDNS packet never exceeds 9000 bytes (RFC 6762 §17).
constexpr size_t kMaxMessageSize = 9000;
// A query that fits any path without fragmentation (RFC 6762 §17: 1500-byte Ethernet MTU
// minus IPv4 and UDP headers).
constexpr size_t kDefaultQuerySize = 1472;
constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxLabelLength = 63;
// Wire length of a whole name: every label with its length byte, plus the root byte.
constexpr size_t kMaxNameLength = 255;

namespace RecordType {
constexpr uint16_t kA = 1;
constexpr uint16_t kPtr = 12;
constexpr uint16_t kTxt = 16;
constexpr uint16_t kAaaa = 28;
constexpr uint16_t kSrv = 33;
constexpr uint16_t kNsec = 47;
constexpr uint16_t kAny = 255;
}  // namespace RecordType

constexpr uint16_t kClassIn = 1;

namespace HeaderFlag {
constexpr uint16_t kResponse = 0x8000;
constexpr uint16_t kAuthoritative = 0x0400;
constexpr uint16_t kTruncated = 0x0200;
}  // namespace HeaderFlag

// A domain name as its raw labels, most specific first, without the root label.
// A label is any 1 to 63 bytes: instance labels hold dots, spaces, UTF-8, even zero bytes,
// so a name is never turned into dotted text to be compared or stored.
using Name = std::vector<std::string>;

struct Header {
    uint16_t id = 0;
    uint16_t flags = 0;  // HeaderFlag bits; opcode and rcode are always 0 once parsed
    uint16_t questionCount = 0;
    uint16_t answerCount = 0;
    uint16_t authorityCount = 0;
    uint16_t additionalCount = 0;
};

struct Question {
    Name name;
    uint16_t type = 0;
    uint16_t qclass = kClassIn;    // without the top bit
    bool unicastResponse = false;  // the QU bit (RFC 6762 §5.4), the top bit of the class
};

struct SrvData {
    uint16_t priority = 0;
    uint16_t weight = 0;
    uint16_t port = 0;
    Name target;
};

struct ResourceRecord {
    Name name;
    uint16_t type = 0;
    uint16_t rrclass = kClassIn;  // without the top bit
    bool cacheFlush = false;      // the top bit of the class (RFC 6762 §10.2)
    // Seconds; 0 is a goodbye (RFC 6762 §10.1). A wire value with the top bit set
    // reads as 0 (RFC 2181 §8).
    uint32_t ttl = 0;

    // Decoded by type; only the member of the record's type is filled.
    Name ptrTarget;                // PTR
    SrvData srv;                   // SRV
    uint32_t ipv4 = 0;             // A, a number: 192.0.2.1 is 0xC0000201
    std::vector<std::string> txt;  // TXT: the strings as sent, empty ones included
    std::vector<uint8_t> rdata;    // any other type: the record data as sent
};

struct Message {
    Header header;
    std::vector<Question> questions;
    std::vector<ResourceRecord> answers;
    std::vector<ResourceRecord> authorities;
    std::vector<ResourceRecord> additionals;
};

}  // namespace mdns::wire

#endif
