#include "mdns/wire/MessageParser.h"

#include "mdns/wire/WireReader.h"

namespace mdns::wire {

namespace {

constexpr uint16_t kOpcodeMask = 0x7800;
constexpr uint16_t kRcodeMask = 0x000F;
constexpr uint16_t kClassTopBit = 0x8000;
constexpr uint32_t kTtlTopBit = 0x80000000u;
// The least bytes a question or record can take: a root name and its fixed fields.
constexpr size_t kMinQuestionSize = 1 + 4;
constexpr size_t kMinRecordSize = 1 + 10;
constexpr size_t kSrvFixedSize = 6;
constexpr size_t kIpv4Size = 4;

ParseError FromNameError(NameError error) {
    switch (error) {
    case NameError::kNone: return ParseError::kNone;
    case NameError::kTruncated: return ParseError::kTruncated;
    case NameError::kLabelType: return ParseError::kLabelType;
    case NameError::kNameTooLong: return ParseError::kNameTooLong;
    case NameError::kBadPointer: return ParseError::kBadPointer;
    }
    return ParseError::kTruncated;
}

class Parser {
public:
    Parser(const uint8_t* data, size_t size) : m_reader(data, size) {}

    ParseError Parse(Message& message) {
        Header& header = message.header;
        if (!m_reader.ReadU16(header.id) || !m_reader.ReadU16(header.flags) ||
            !m_reader.ReadU16(header.questionCount) || !m_reader.ReadU16(header.answerCount) ||
            !m_reader.ReadU16(header.authorityCount) || !m_reader.ReadU16(header.additionalCount))
            return ParseError::kTruncatedHeader;
        if (header.flags & kOpcodeMask) return ParseError::kOpcode;
        if (header.flags & kRcodeMask) return ParseError::kRcode;
        const size_t recordCount = size_t{header.answerCount} + header.authorityCount +
                                   header.additionalCount;
        if (header.questionCount * kMinQuestionSize + recordCount * kMinRecordSize >
            m_reader.Remaining())
            return ParseError::kCountsTooLarge;

        message.questions.resize(header.questionCount);
        for (Question& question : message.questions) {
            if (ParseError error = ReadQuestion(question); error != ParseError::kNone)
                return error;
        }
        struct {
            uint16_t count;
            std::vector<ResourceRecord>& records;
        } sections[] = {{header.answerCount, message.answers},
                        {header.authorityCount, message.authorities},
                        {header.additionalCount, message.additionals}};
        for (auto& section : sections) {
            section.records.resize(section.count);
            for (ResourceRecord& record : section.records) {
                if (ParseError error = ReadRecord(record); error != ParseError::kNone)
                    return error;
            }
        }
        return ParseError::kNone;
    }

private:
    ParseError ReadQuestion(Question& question) {
        if (ParseError error = FromNameError(m_reader.ReadName(question.name));
            error != ParseError::kNone)
            return error;
        uint16_t qclass = 0;
        if (!m_reader.ReadU16(question.type) || !m_reader.ReadU16(qclass))
            return ParseError::kTruncated;
        question.unicastResponse = (qclass & kClassTopBit) != 0;
        question.qclass = qclass & ~kClassTopBit;
        return ParseError::kNone;
    }

    ParseError ReadRecord(ResourceRecord& record) {
        if (ParseError error = FromNameError(m_reader.ReadName(record.name));
            error != ParseError::kNone)
            return error;
        uint16_t rrclass = 0;
        uint16_t rdlength = 0;
        if (!m_reader.ReadU16(record.type) || !m_reader.ReadU16(rrclass) ||
            !m_reader.ReadU32(record.ttl) || !m_reader.ReadU16(rdlength))
            return ParseError::kTruncated;
        record.cacheFlush = (rrclass & kClassTopBit) != 0;
        record.rrclass = rrclass & ~kClassTopBit;
        if (record.ttl & kTtlTopBit) record.ttl = 0;
        if (m_reader.Remaining() < rdlength) return ParseError::kRdataPastEnd;
        const size_t dataStart = m_reader.Offset();
        const size_t dataEnd = dataStart + rdlength;
        ParseError error = ReadRecordData(record, rdlength, dataEnd);
        if (error == ParseError::kNone && m_reader.Offset() != dataEnd)
            error = ParseError::kRdataSize;
        return error;
    }

    // Leaves the reader at dataEnd when the data is well formed.
    ParseError ReadRecordData(ResourceRecord& record, uint16_t rdlength, size_t dataEnd) {
        switch (record.type) {
        case RecordType::kA:
            if (rdlength != kIpv4Size) return ParseError::kRdataSize;
            m_reader.ReadU32(record.ipv4);
            return ParseError::kNone;
        case RecordType::kPtr:
            return ReadDataName(record.ptrTarget, dataEnd);
        case RecordType::kSrv:
            if (rdlength < kSrvFixedSize + 1) return ParseError::kRdataSize;
            m_reader.ReadU16(record.srv.priority);
            m_reader.ReadU16(record.srv.weight);
            m_reader.ReadU16(record.srv.port);
            return ReadDataName(record.srv.target, dataEnd);
        case RecordType::kTxt:
            return ReadTxtStrings(record.txt, dataEnd);
        default: {
            const uint8_t* bytes = nullptr;
            m_reader.ReadBytes(rdlength, bytes);
            record.rdata.assign(bytes, bytes + rdlength);
            return ParseError::kNone;
        }
        }
    }

    // A name that runs past its record's data is a wrongly sized record, not a short message.
    ParseError ReadDataName(Name& name, size_t dataEnd) {
        const NameError error = m_reader.ReadName(name, dataEnd);
        if (error == NameError::kTruncated) return ParseError::kRdataSize;
        return FromNameError(error);
    }

    ParseError ReadTxtStrings(std::vector<std::string>& strings, size_t dataEnd) {
        while (m_reader.Offset() < dataEnd) {
            uint8_t length = 0;
            m_reader.ReadU8(length);
            if (dataEnd - m_reader.Offset() < length) return ParseError::kTxtPastEnd;
            const uint8_t* bytes = nullptr;
            m_reader.ReadBytes(length, bytes);
            strings.emplace_back(reinterpret_cast<const char*>(bytes), length);
        }
        return ParseError::kNone;
    }

    WireReader m_reader;
};

}  // namespace

bool ParseMessage(const uint8_t* data, size_t size, Message& message, ParseError* error,
                  size_t maxSize) {
    message = Message();
    ParseError result = ParseError::kNone;
    if (size > maxSize)
        result = ParseError::kTooLarge;
    else if (data == nullptr || size < kHeaderSize)
        result = ParseError::kTruncatedHeader;
    else
        result = Parser(data, size).Parse(message);
    if (result != ParseError::kNone) message = Message();
    if (error) *error = result;
    return result == ParseError::kNone;
}

}  // namespace mdns::wire
