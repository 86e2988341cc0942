// Fuzzes the codec with arbitrary packets: parsing must never read outside the input, and
// whatever parses must survive the library's conversions and a write-and-parse round trip
// unchanged. A broken invariant aborts, so libFuzzer keeps the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mdns/wire/DnsWire.h"

using namespace mdns::wire;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

bool HasUnpairedSurrogate(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return true;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

void CheckUtf8(const std::string& bytes) {
    const std::u16string utf16 = Utf8ToUtf16(bytes);
    Require(utf16.size() <= bytes.size());
    Require(!HasUnpairedSurrogate(utf16));
    const std::u16string label = LabelToUtf16(bytes);
    Require(label.size() == utf16.size());
    Require(label.find(u'\0') == std::u16string::npos);
    // Once converted, text is well formed and converts back and forth unchanged.
    const std::string utf8 = Utf16ToUtf8(utf16);
    Require(Utf8ToUtf16(utf8) == utf16);
}

void CheckTxtText(const std::vector<std::string>& strings) {
    const std::string text = ToTxtText(strings);
    Require(!text.empty() && text.back() == '\0');
    // Walking the text as callers do yields exactly the strings that are safe to hand out.
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
    // No strings at all is written as the one empty string.
    const auto txtOf = [](const ResourceRecord& record) {
        return record.txt.empty() && record.type == RecordType::kTxt
                   ? std::vector<std::string>{""}
                   : record.txt;
    };
    return a.name == b.name && a.type == b.type && a.rrclass == b.rrclass &&
           a.cacheFlush == b.cacheFlush && a.ttl == b.ttl && a.ptrTarget == b.ptrTarget &&
           a.srv.priority == b.srv.priority && a.srv.weight == b.srv.weight &&
           a.srv.port == b.srv.port && a.srv.target == b.srv.target && a.ipv4 == b.ipv4 &&
           txtOf(a) == txtOf(b) && a.rdata == b.rdata;
}

bool SameRecords(const std::vector<ResourceRecord>& a, const std::vector<ResourceRecord>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!SameRecord(a[i], b[i])) return false;
    }
    return true;
}

// Writes the message again; when all of it fits, it must parse back to the same message.
void CheckRoundTrip(const Message& message) {
    MessageWriter writer(kMaxMessageSize, message.header.id, message.header.flags);
    for (const Question& question : message.questions) {
        if (!writer.AddQuestion(question)) return;
    }
    const std::pair<Section, const std::vector<ResourceRecord>*> sections[] = {
        {Section::kAnswer, &message.answers},
        {Section::kAuthority, &message.authorities},
        {Section::kAdditional, &message.additionals}};
    for (const auto& [section, records] : sections) {
        for (const ResourceRecord& record : *records) {
            if (!writer.AddRecord(section, record)) return;
        }
    }
    Message again;
    Require(ParseMessage(writer.Bytes().data(), writer.Bytes().size(), again));
    Require(again.header.id == message.header.id && again.header.flags == message.header.flags);
    Require(again.questions.size() == message.questions.size());
    for (size_t i = 0; i < again.questions.size(); ++i) {
        const Question& a = again.questions[i];
        const Question& b = message.questions[i];
        Require(a.name == b.name && a.type == b.type && a.qclass == b.qclass &&
                a.unicastResponse == b.unicastResponse);
    }
    Require(SameRecords(again.answers, message.answers));
    Require(SameRecords(again.authorities, message.authorities));
    Require(SameRecords(again.additionals, message.additionals));
}

void CheckName(const Name& name) {
    size_t wireLength = 1;
    for (const std::string& label : name) {
        Require(!label.empty() && label.size() <= kMaxLabelLength);
        wireLength += 1 + label.size();
    }
    Require(wireLength <= kMaxNameLength);
    Require(NameEquals(name, name) && NameKey(name).size() + 1 == wireLength);
    if (!name.empty()) CheckUtf8(name.front());
}

void CheckRecords(const std::vector<ResourceRecord>& records) {
    for (const ResourceRecord& record : records) {
        CheckName(record.name);
        CheckName(record.ptrTarget);
        CheckName(record.srv.target);
        CheckTxtText(record.txt);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Message message;
    ParseError error = ParseError::kNone;
    if (ParseMessage(data, size, message, &error)) {
        Require(size <= kMaxMessageSize && error == ParseError::kNone);
        for (const Question& question : message.questions) CheckName(question.name);
        CheckRecords(message.answers);
        CheckRecords(message.authorities);
        CheckRecords(message.additionals);
        CheckRoundTrip(message);
    } else {
        Require(error != ParseError::kNone && message.questions.empty() &&
                message.answers.empty() && message.authorities.empty() &&
                message.additionals.empty());
    }

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckUtf8(bytes);
    // The raw input as TXT strings, cut at every 0x01 byte (zero bytes stay inside).
    std::vector<std::string> strings(1);
    for (char c : bytes) {
        if (c == '\x01')
            strings.emplace_back();
        else
            strings.back().push_back(c);
    }
    CheckTxtText(strings);
    return 0;
}
