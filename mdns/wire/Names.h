// Comparing and keying names. Names match case-insensitively in ASCII only; other bytes
// (UTF-8 included) must be equal (RFC 6762 §16).
#ifndef MDNS_WIRE_NAMES_H
#define MDNS_WIRE_NAMES_H

#include <string>
#include <string_view>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

bool LabelEquals(std::string_view a, std::string_view b);
bool NameEquals(const Name& a, const Name& b);

// The name's uncompressed wire form with ASCII letters folded to lower case: two names
// have the same key exactly when NameEquals holds, so it serves as a map key.
std::string NameKey(const Name& name);

// Splits a dotted name of plain labels ("_http._tcp.local", ".local.") at its dots;
// empty labels (leading, trailing or doubled dots) are left out. Not for instance labels,
// which may hold dots themselves.
Name NameFromDotted(std::string_view dotted);

// Whether `instance` is one label followed by `service` (RFC 6763 §4.1: the instance
// label, then the service type and domain).
bool IsInstanceOf(const Name& instance, const Name& service);

}  // namespace mdns::wire

#endif
