// UTF-8 and UTF-16 conversion without any platform call.
#ifndef MDNS_WIRE_UTF_H
#define MDNS_WIRE_UTF_H

#include <string>
#include <string_view>

namespace mdns::wire {

// Every ill-formed part of the input (a byte that starts no sequence, a truncated
// sequence, an overlong form, an encoded surrogate, a value over U+10FFFF) becomes one
// U+FFFD per maximal ill-formed subpart (Unicode 15, §3.9, U+FFFD substitution).
std::u16string Utf8ToUtf16(std::string_view utf8);

// An instance label as the UTF-16 name callers receive: Utf8ToUtf16, except that a zero
// byte, which would cut the zero-terminated name short, becomes U+FFFD as well.
std::u16string LabelToUtf16(std::string_view label);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace mdns::wire

#endif
