// Writing DNS messages with name compression (RFC 1035 §4.1.4), bounded by a size.
#ifndef MDNS_WIRE_MESSAGEWRITER_H
#define MDNS_WIRE_MESSAGEWRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "mdns/wire/DnsMessage.h"

namespace mdns::wire {

enum class Section { kAnswer, kAuthority, kAdditional };

// Builds one message. Each Add writes its whole question or record or, when that would
// not fit in maxSize (or the item cannot be encoded: an empty label or one over 63 bytes,
// a name over 255 octets, a TXT string over 255 bytes, over 65535 of one kind), writes
// nothing and returns false. Records must be added in section order.
// Record types written: A, PTR, SRV, TXT from their decoded members; any other type from
// `rdata` as it stands.
class MessageWriter {
public:
    explicit MessageWriter(size_t maxSize = kDefaultQuerySize, uint16_t id = 0,
                           uint16_t flags = 0);

    bool AddQuestion(const Question& question);
    bool AddRecord(Section section, const ResourceRecord& record);
    void SetFlags(uint16_t flags);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    uint16_t QuestionCount() const { return m_counts[0]; }
    uint16_t RecordCount() const;

private:
    bool WriteName(const Name& name);
    bool WriteRecordData(const ResourceRecord& record);
    void PutU16(uint16_t value);
    void PutU32(uint32_t value);
    void PutCount(size_t index);
    void Rollback(size_t size, size_t namesBefore);

    size_t m_maxSize;
    std::vector<uint8_t> m_bytes;
    uint16_t m_counts[4] = {0, 0, 0, 0};  // questions, answers, authorities, additionals
    // Every name suffix written so far, by its uncompressed form, with its offset;
    // m_written lists the keys in the order added so a failed Add can take its own back.
    std::unordered_map<std::string, uint16_t> m_suffixes;
    std::vector<std::string> m_written;
};

// A record already held, sent with a query so responders leave it out (RFC 6762 §7.1).
struct KnownAnswer {
    Name name;
    uint32_t ttl = 0;  // seconds left
    Name ptrTarget;
};

// Builds the query packets for `questions` and the PTR `knownAnswers`, each packet at most
// maxSize bytes. Questions come first, then the known answers; what does not fit goes into
// further packets, and a packet followed by one that holds known answers only carries the
// truncated bit (RFC 6762 §7.2). A question or answer that fits in no packet on its own, or
// cannot be encoded, is left out. Returns the packets in sending order.
std::vector<std::vector<uint8_t>> BuildQuery(const std::vector<Question>& questions,
                                             const std::vector<KnownAnswer>& knownAnswers,
                                             size_t maxSize = kDefaultQuerySize);

}  // namespace mdns::wire

#endif
