#include "mdns/wire/MessageWriter.h"

namespace mdns::wire {

namespace {

constexpr uint16_t kClassTopBit = 0x8000;
constexpr size_t kFlagsOffset = 2;
constexpr size_t kCountsOffset = 4;
// A compression pointer holds a 14-bit offset.
constexpr size_t kMaxPointerOffset = 0x3FFF;
constexpr uint8_t kPointerType = 0xC0;
constexpr size_t kMaxTxtStringLength = 255;
constexpr size_t kMaxRdataLength = 0xFFFF;
constexpr size_t kMaxCount = 0xFFFF;

// The uncompressed wire form, byte for byte: a name compresses only against one written
// exactly so, so every name reads back exactly as it was given (case included).
std::string WireForm(const Name& name) {
    std::string form;
    for (const std::string& label : name) {
        form.push_back(static_cast<char>(label.size()));
        form.append(label);
    }
    return form;
}

bool CanEncode(const Name& name) {
    size_t wireLength = 1;
    for (const std::string& label : name) {
        if (label.empty() || label.size() > kMaxLabelLength) return false;
        wireLength += 1 + label.size();
    }
    return wireLength <= kMaxNameLength;
}

size_t SectionIndex(Section section) {
    switch (section) {
    case Section::kAnswer: return 1;
    case Section::kAuthority: return 2;
    case Section::kAdditional: return 3;
    }
    return 3;
}

}  // namespace

MessageWriter::MessageWriter(size_t maxSize, uint16_t id, uint16_t flags)
    : m_maxSize(maxSize < kMaxMessageSize ? maxSize : kMaxMessageSize) {
    m_bytes.reserve(m_maxSize > kHeaderSize ? m_maxSize : kHeaderSize);
    PutU16(id);
    PutU16(flags);
    m_bytes.resize(kHeaderSize, 0);
}

void MessageWriter::SetFlags(uint16_t flags) {
    m_bytes[kFlagsOffset] = static_cast<uint8_t>(flags >> 8);
    m_bytes[kFlagsOffset + 1] = static_cast<uint8_t>(flags);
}

uint16_t MessageWriter::RecordCount() const {
    return static_cast<uint16_t>(m_counts[1] + m_counts[2] + m_counts[3]);
}

bool MessageWriter::AddQuestion(const Question& question) {
    if (RecordCount() != 0 || m_counts[0] == kMaxCount) return false;
    const size_t sizeBefore = m_bytes.size();
    const size_t namesBefore = m_written.size();
    const uint16_t qclass =
        static_cast<uint16_t>(question.qclass | (question.unicastResponse ? kClassTopBit : 0));
    if (WriteName(question.name)) {
        PutU16(question.type);
        PutU16(qclass);
        if (m_bytes.size() <= m_maxSize) {
            ++m_counts[0];
            PutCount(0);
            return true;
        }
    }
    Rollback(sizeBefore, namesBefore);
    return false;
}

bool MessageWriter::AddRecord(Section section, const ResourceRecord& record) {
    const size_t index = SectionIndex(section);
    for (size_t later = index + 1; later < 4; ++later) {
        if (m_counts[later] != 0) return false;
    }
    if (m_counts[index] == kMaxCount) return false;
    const size_t sizeBefore = m_bytes.size();
    const size_t namesBefore = m_written.size();
    const uint16_t rrclass =
        static_cast<uint16_t>(record.rrclass | (record.cacheFlush ? kClassTopBit : 0));
    if (WriteName(record.name)) {
        PutU16(record.type);
        PutU16(rrclass);
        PutU32(record.ttl);
        if (WriteRecordData(record) && m_bytes.size() <= m_maxSize) {
            ++m_counts[index];
            PutCount(index);
            return true;
        }
    }
    Rollback(sizeBefore, namesBefore);
    return false;
}

bool MessageWriter::WriteName(const Name& name) {
    if (!CanEncode(name)) return false;
    const std::string key = WireForm(name);
    size_t keyOffset = 0;
    for (const std::string& label : name) {
        std::string suffix = key.substr(keyOffset);
        auto known = m_suffixes.find(suffix);
        if (known != m_suffixes.end()) {
            PutU16(static_cast<uint16_t>(kPointerType << 8 | known->second));
            return true;
        }
        if (m_bytes.size() <= kMaxPointerOffset) {
            m_suffixes.emplace(suffix, static_cast<uint16_t>(m_bytes.size()));
            m_written.push_back(std::move(suffix));
        }
        m_bytes.push_back(static_cast<uint8_t>(label.size()));
        m_bytes.insert(m_bytes.end(), label.begin(), label.end());
        keyOffset += 1 + label.size();
    }
    m_bytes.push_back(0);
    return true;
}

bool MessageWriter::WriteRecordData(const ResourceRecord& record) {
    const size_t lengthOffset = m_bytes.size();
    PutU16(0);
    switch (record.type) {
    case RecordType::kA:
        PutU32(record.ipv4);
        break;
    case RecordType::kPtr:
        if (!WriteName(record.ptrTarget)) return false;
        break;
    case RecordType::kSrv:
        PutU16(record.srv.priority);
        PutU16(record.srv.weight);
        PutU16(record.srv.port);
        if (!WriteName(record.srv.target)) return false;
        break;
    case RecordType::kTxt:
        // No strings is sent as one empty string: the data is never empty.
        if (record.txt.empty()) m_bytes.push_back(0);
        for (const std::string& entry : record.txt) {
            if (entry.size() > kMaxTxtStringLength) return false;
            m_bytes.push_back(static_cast<uint8_t>(entry.size()));
            m_bytes.insert(m_bytes.end(), entry.begin(), entry.end());
        }
        break;
    default:
        m_bytes.insert(m_bytes.end(), record.rdata.begin(), record.rdata.end());
        break;
    }
    const size_t length = m_bytes.size() - lengthOffset - 2;
    if (length > kMaxRdataLength) return false;
    m_bytes[lengthOffset] = static_cast<uint8_t>(length >> 8);
    m_bytes[lengthOffset + 1] = static_cast<uint8_t>(length);
    return true;
}

void MessageWriter::PutU16(uint16_t value) {
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
    m_bytes.push_back(static_cast<uint8_t>(value));
}

void MessageWriter::PutU32(uint32_t value) {
    PutU16(static_cast<uint16_t>(value >> 16));
    PutU16(static_cast<uint16_t>(value));
}

void MessageWriter::PutCount(size_t index) {
    m_bytes[kCountsOffset + 2 * index] = static_cast<uint8_t>(m_counts[index] >> 8);
    m_bytes[kCountsOffset + 2 * index + 1] = static_cast<uint8_t>(m_counts[index]);
}

void MessageWriter::Rollback(size_t size, size_t namesBefore) {
    m_bytes.resize(size);
    while (m_written.size() > namesBefore) {
        m_suffixes.erase(m_written.back());
        m_written.pop_back();
    }
}

namespace {

// Collects the packets of one query, starting a new one whenever the current is full.
class QueryPackets {
public:
    explicit QueryPackets(size_t maxSize) : m_maxSize(maxSize), m_current(maxSize) {}

    void AddQuestion(const Question& question) {
        if (m_current.AddQuestion(question) || IsEmpty()) return;
        StartNext();
        m_current.AddQuestion(question);
    }

    void AddKnownAnswer(const KnownAnswer& answer) {
        ResourceRecord record;
        record.name = answer.name;
        record.type = RecordType::kPtr;
        record.ttl = answer.ttl;
        record.ptrTarget = answer.ptrTarget;
        if (m_current.AddRecord(Section::kAnswer, record) || IsEmpty()) return;
        StartNext();
        m_current.AddRecord(Section::kAnswer, record);
    }

    std::vector<std::vector<uint8_t>> Finish() {
        if (!IsEmpty()) Push();
        return std::move(m_packets);
    }

private:
    bool IsEmpty() const { return m_current.QuestionCount() == 0 && m_current.RecordCount() == 0; }

    void StartNext() {
        Push();
        m_current = MessageWriter(m_maxSize);
    }

    void Push() {
        // More known answers follow in a packet of their own: responders wait for them.
        if (m_current.QuestionCount() == 0 && !m_packets.empty())
            m_packets.back()[kFlagsOffset] |= HeaderFlag::kTruncated >> 8;
        m_packets.push_back(m_current.Bytes());
    }

    size_t m_maxSize;
    MessageWriter m_current;
    std::vector<std::vector<uint8_t>> m_packets;
};

}  // namespace

std::vector<std::vector<uint8_t>> BuildQuery(const std::vector<Question>& questions,
                                             const std::vector<KnownAnswer>& knownAnswers,
                                             size_t maxSize) {
    QueryPackets packets(maxSize);
    for (const Question& question : questions) packets.AddQuestion(question);
    for (const KnownAnswer& answer : knownAnswers) packets.AddKnownAnswer(answer);
    return packets.Finish();
}

}  // namespace mdns::wire
