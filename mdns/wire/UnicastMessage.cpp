#include "mdns/wire/UnicastMessage.h"

#include <algorithm>

#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/WireReader.h"

namespace mdns::wire {

namespace {

constexpr uint16_t kRecursionDesired = 0x0100;
constexpr uint16_t kOpcodeMask = 0x7800;
constexpr uint16_t kRcodeMask = 0x000F;
constexpr uint16_t kRcodeNameError = 3;
constexpr uint16_t kTypeOpt = 41;
constexpr uint16_t kTypeSoa = 6;
// A SOA's data ends with five 32-bit numbers, MINIMUM last, whatever its names hold.
constexpr size_t kSoaNumbersSize = 20;

}  // namespace

std::vector<uint8_t> BuildUnicastQuery(uint16_t id, const Name& name, uint16_t type) {
    MessageWriter writer(kDefaultQuerySize, id, kRecursionDesired);
    Question question;
    question.name = name;
    question.type = type;
    if (!writer.AddQuestion(question)) return {};
    ResourceRecord opt;
    opt.type = kTypeOpt;
    opt.rrclass = kUdpPayloadSize;
    writer.AddRecord(Section::kAdditional, opt);
    return writer.Bytes();
}

UnicastAnswer ReadUnicastAnswer(const uint8_t* data, size_t size, uint16_t id, const Name& name,
                                uint16_t type) {
    UnicastAnswer answer;
    WireReader header(data, size);
    uint16_t gotId = 0;
    uint16_t flags = 0;
    if (!header.ReadU16(gotId) || !header.ReadU16(flags)) return answer;
    if (gotId != id || !(flags & HeaderFlag::kResponse) || (flags & kOpcodeMask)) return answer;
    // The parser takes response code 0 only: the code is read here, and the rest parsed
    // from a copy without it.
    const uint16_t rcode = flags & kRcodeMask;
    std::vector<uint8_t> copy(data, data + size);
    copy[3] = static_cast<uint8_t>(copy[3] & ~kRcodeMask);
    Message message;
    if (!ParseMessage(copy.data(), copy.size(), message, nullptr, kMaxTcpMessageSize)) return answer;
    if (message.questions.size() != 1) return answer;
    const Question& question = message.questions.front();
    if (question.type != type || question.qclass != kClassIn || !NameEquals(question.name, name))
        return answer;

    if (flags & HeaderFlag::kTruncated) {
        answer.kind = AnswerKind::kTruncated;
        return answer;
    }
    if (rcode != 0 && rcode != kRcodeNameError) {
        answer.kind = AnswerKind::kServerError;
        return answer;
    }
    for (const ResourceRecord& record : message.authorities) {
        if (record.type != kTypeSoa || record.rdata.size() < kSoaNumbersSize) continue;
        WireReader minimum(record.rdata.data() + record.rdata.size() - 4, 4);
        uint32_t value = 0;
        minimum.ReadU32(value);
        answer.negativeTtl = std::min(record.ttl, value);
    }
    if (rcode == kRcodeNameError) {
        answer.kind = AnswerKind::kNoSuchName;
        return answer;
    }
    answer.kind = AnswerKind::kAnswer;
    for (ResourceRecord& record : message.answers) {
        if (record.type == type && record.rrclass == kClassIn && NameEquals(record.name, name))
            answer.records.push_back(std::move(record));
    }
    if (type != RecordType::kSrv) return answer;
    const size_t srvCount = answer.records.size();
    for (ResourceRecord& record : message.additionals) {
        if (record.type != RecordType::kA || record.rrclass != kClassIn) continue;
        for (size_t i = 0; i < srvCount; ++i) {
            if (!NameEquals(answer.records[i].srv.target, record.name)) continue;
            answer.records.push_back(std::move(record));
            break;
        }
    }
    return answer;
}

}  // namespace mdns::wire
