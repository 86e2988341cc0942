// Parsing a received mDNS message. A message is taken whole or not at all: one malformed
// part drops it, and nothing outside its bytes is ever read.
//
// Accepted: at most kMaxMessageSize bytes (or the size given); opcode 0 and rcode 0 only (RFC 6762 §18.3,
// §18.11: others are ignored); names as WireReader::ReadName describes them; record data
// that each record's rdlength holds exactly. Typed data must fill its rdlength exactly:
// A 4 bytes, SRV 6 bytes and a name, PTR one name, TXT a run of length-prefixed strings
// (none reaching past the data; an rdlength of 0 reads as no strings). Names inside PTR and
// SRV data may be compressed. Bytes after the last record are ignored. Counts are checked
// against the bytes left before anything is allocated for them.
#ifndef MDNS_WIRE_MESSAGEPARSER_H
#define MDNS_WIRE_MESSAGEPARSER_H

#include <cstddef>
#include <cstdint>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

enum class ParseError {
    kNone,
    kTooLarge,           // over kMaxMessageSize bytes
    kTruncatedHeader,    // fewer than kHeaderSize bytes
    kOpcode,             // opcode other than 0
    kRcode,              // response code other than 0
    kCountsTooLarge,     // more questions or records than the bytes left could hold
    kTruncated,          // a question or record fixed part runs past the end
    kLabelType,
    kNameTooLong,
    kBadPointer,
    kRdataPastEnd,       // rdlength reaches past the end of the message
    kRdataSize,          // A or SRV data of the wrong size; PTR or SRV name not filling it
    kTxtPastEnd,         // a TXT string length reaches past the record data
};

// Fills `message` and returns true, or clears it and returns false; `error`, when given,
// says why. `maxSize`: a unicast answer read over TCP may be up to 65535 bytes.
bool ParseMessage(const uint8_t* data, size_t size, Message& message,
                  ParseError* error = nullptr, size_t maxSize = kMaxMessageSize);

}  // namespace mdns::wire

#endif
