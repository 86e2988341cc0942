// The TXT text that mDNS.dll hands to its callers: each string followed by a zero byte,
// the list ended by one more zero byte.
#ifndef MDNS_WIRE_TXTTEXT_H
#define MDNS_WIRE_TXTTEXT_H

#include <string>
#include <vector>

namespace mdns::wire {

// Builds the TXT text of a record's strings. Empty strings are left out (so a record of one
// empty string, the empty TXT of RFC 6763 §6.1, gives the empty text, just the final zero
// byte), and so is a string holding a zero byte: in this form it would end the string early
// or, as an empty entry, the whole list, and so read as other strings than were sent.
std::string ToTxtText(const std::vector<std::string>& strings);

}  // namespace mdns::wire

#endif
