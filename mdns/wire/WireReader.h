// Bounds-checked reading of a DNS message. Every read checks the bytes it needs against
// the end of the message first and fails without moving when they are not all there;
// no length, count or compression pointer taken from the message is trusted.
#ifndef MDNS_WIRE_WIREREADER_H
#define MDNS_WIRE_WIREREADER_H

#include <cstddef>
#include <cstdint>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

enum class NameError {
    kNone,
    kTruncated,       // the name runs past the end of the message (or of its record data)
    kLabelType,       // a label of the reserved types 0x40 or 0x80
    kNameTooLong,     // over kMaxNameLength octets once decompressed
    kBadPointer,      // a pointer into the header, forward, to itself, or into a loop
};

class WireReader {
public:
    // The message stays owned by the caller and must outlive the reader.
    WireReader(const uint8_t* message, size_t size);

    size_t Offset() const { return m_offset; }
    size_t Remaining() const { return m_size - m_offset; }

    bool ReadU8(uint8_t& value);
    bool ReadU16(uint16_t& value);
    bool ReadU32(uint32_t& value);
    // Points `bytes` at the next `count` bytes of the message and moves past them.
    bool ReadBytes(size_t count, const uint8_t*& bytes);
    bool Skip(size_t count);

    // Reads a possibly compressed name (RFC 1035 §4.1.4). A compression pointer must point
    // back, before the start of the run of labels that holds it, and past the header: so
    // every pointer followed moves strictly backwards and no loop can form. The reader ends
    // after the name's own bytes (after the first pointer, if any), which must lie before
    // `limit` (an offset into the message; the message's end by default).
    NameError ReadName(Name& name, size_t limit = SIZE_MAX);

private:
    const uint8_t* m_message;
    size_t m_size;
    size_t m_offset = 0;
};

}  // namespace mdns::wire

#endif
