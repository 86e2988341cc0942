// Fuzzes the codec: parsing never reads outside the input, and what parses survives the
// conversions and a write-and-parse round trip; a broken invariant aborts.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "mdns/wire/DnsWire.h"

using namespace mdns::wire;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// Converted text is well formed, so it converts back and forth unchanged: an unpaired
// surrogate would come back as U+FFFD. A label converts alike, its zeros replaced.
void CheckUtf8(const std::string& bytes) {
    const std::u16string utf16 = Utf8ToUtf16(bytes);
    const std::u16string label = LabelToUtf16(bytes);
    Require(utf16.size() <= bytes.size() && label.size() == utf16.size());
    Require(label.find(u'\0') == std::u16string::npos);
    Require(Utf8ToUtf16(Utf16ToUtf8(utf16)) == utf16);
}

// Walking the text as callers do yields exactly the strings that are safe to hand out.
void CheckTxtText(const std::vector<std::string>& strings) {
    const std::string text = ToTxtText(strings);
    Require(!text.empty() && text.back() == '\0');
    std::vector<std::string> read;
    for (size_t at = 0; text[at] != '\0'; at += read.back().size() + 1) {
        read.emplace_back(text.c_str() + at);
        Require(at + read.back().size() + 1 < text.size());
    }
    std::vector<std::string> kept;
    for (const std::string& entry : strings) {
        if (!entry.empty() && entry.find('\0') == std::string::npos) kept.push_back(entry);
    }
    Require(read == kept);
}

bool SameRecord(const ResourceRecord& a, const ResourceRecord& b) {
    auto fields = [](const ResourceRecord& r) {
        return std::tie(r.name, r.type, r.rrclass, r.cacheFlush, r.ttl, r.ptrTarget,
                        r.srv.priority, r.srv.weight, r.srv.port, r.srv.target, r.ipv4, r.txt,
                        r.rdata);
    };
    return fields(a) == fields(b);
}

bool SameQuestion(const Question& a, const Question& b) {
    return std::tie(a.name, a.type, a.qclass, a.unicastResponse) ==
           std::tie(b.name, b.type, b.qclass, b.unicastResponse);
}

using Sections = std::pair<Section, std::vector<ResourceRecord> Message::*>[3];
const Sections kSections = {{Section::kAnswer, &Message::answers},
                            {Section::kAuthority, &Message::authorities},
                            {Section::kAdditional, &Message::additionals}};

// Writes the message again; when all of it fits, it must parse back to the same message (a
// TXT record of no strings is written as the one empty string).
void CheckRoundTrip(Message message) {
    MessageWriter writer(kMaxMessageSize, message.header.id, message.header.flags);
    for (const Question& question : message.questions) {
        if (!writer.AddQuestion(question)) return;
    }
    for (const auto& [section, records] : kSections) {
        for (ResourceRecord& record : message.*records) {
            if (!writer.AddRecord(section, record)) return;
            if (record.type == RecordType::kTxt && record.txt.empty()) record.txt = {""};
        }
    }
    Message again;
    Require(ParseMessage(writer.Bytes().data(), writer.Bytes().size(), again));
    Require(again.header.id == message.header.id && again.header.flags == message.header.flags);
    Require(std::equal(again.questions.begin(), again.questions.end(), message.questions.begin(),
                       message.questions.end(), SameQuestion));
    for (const auto& [section, records] : kSections) {
        Require(std::equal((again.*records).begin(), (again.*records).end(),
                           (message.*records).begin(), (message.*records).end(), SameRecord));
    }
}

void CheckName(const Name& name) {
    size_t wireLength = 1;
    for (const std::string& label : name) {
        Require(!label.empty() && label.size() <= kMaxLabelLength);
        wireLength += 1 + label.size();
    }
    Require(wireLength <= kMaxNameLength);
    if (!name.empty()) CheckUtf8(name.front());
}

// Read as the reply to either question of the corpus's unicast replies: only records of class
// IN, of the name and type asked or an address a taken SRV names; nothing from other replies.
void CheckUnicastAnswer(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const auto id = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const std::pair<Name, uint16_t> questions[] = {
        {{"_http", "_tcp", "corp", "example"}, RecordType::kPtr},
        {{"Web", "_http", "_tcp", "corp", "example"}, RecordType::kSrv}};
    for (const auto& [name, type] : questions) {
        const UnicastAnswer answer = ReadUnicastAnswer(data, size, id, name, type);
        if (answer.kind != AnswerKind::kAnswer) Require(answer.records.empty());
        for (const ResourceRecord& record : answer.records) {
            Require(record.rrclass == kClassIn);
            if (record.type != RecordType::kA) {
                Require(record.type == type && NameEquals(record.name, name));
                continue;
            }
            Require(type == RecordType::kSrv &&
                    std::any_of(answer.records.begin(), answer.records.end(), [&](const ResourceRecord& srv) {
                        return srv.type == RecordType::kSrv && NameEquals(srv.srv.target, record.name);
                    }));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Message message;
    ParseError error = ParseError::kNone;
    const bool parsed = ParseMessage(data, size, message, &error);
    Require(parsed == (error == ParseError::kNone));
    if (parsed) {
        Require(size <= kMaxMessageSize);
        for (const Question& question : message.questions) CheckName(question.name);
        for (const auto& [section, records] : kSections) {
            for (const ResourceRecord& record : message.*records) {
                CheckName(record.name);
                CheckName(record.ptrTarget);
                CheckName(record.srv.target);
                CheckTxtText(record.txt);
            }
        }
        CheckRoundTrip(message);
    } else {
        Require(message.questions.empty() && message.answers.empty() &&
                message.authorities.empty() && message.additionals.empty());
    }
    CheckUtf8(std::string(reinterpret_cast<const char*>(data), size));
    CheckUnicastAnswer(data, size);
    return 0;
}
