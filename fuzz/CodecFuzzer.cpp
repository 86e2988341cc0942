// Fuzzes the codec with arbitrary packets: parsing must never read outside the input, and
// whatever parses must survive the library's conversions and a write-and-parse round trip
// unchanged. A broken invariant aborts, so libFuzzer keeps the input.
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

// No strings at all is written as the one empty string.
auto Fields(const ResourceRecord& r, const std::vector<std::string>& txt) {
    return std::tie(r.name, r.type, r.rrclass, r.cacheFlush, r.ttl, r.ptrTarget, r.srv.priority,
                    r.srv.weight, r.srv.port, r.srv.target, r.ipv4, txt, r.rdata);
}

bool SameRecord(const ResourceRecord& written, const ResourceRecord& given) {
    const std::vector<std::string> sent = given.type == RecordType::kTxt && given.txt.empty()
                                              ? std::vector<std::string>{""}
                                              : given.txt;
    return Fields(written, written.txt) == Fields(given, sent);
}

bool SameQuestion(const Question& a, const Question& b) {
    return std::tie(a.name, a.type, a.qclass, a.unicastResponse) ==
           std::tie(b.name, b.type, b.qclass, b.unicastResponse);
}

template <class Item, class Same>
bool SameList(const std::vector<Item>& a, const std::vector<Item>& b, Same same) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

using Sections = std::pair<Section, const std::vector<ResourceRecord> Message::*>[3];
const Sections kSections = {{Section::kAnswer, &Message::answers},
                            {Section::kAuthority, &Message::authorities},
                            {Section::kAdditional, &Message::additionals}};

// Writes the message again; when all of it fits, it must parse back to the same message.
void CheckRoundTrip(const Message& message) {
    MessageWriter writer(kMaxMessageSize, message.header.id, message.header.flags);
    for (const Question& question : message.questions) {
        if (!writer.AddQuestion(question)) return;
    }
    for (const auto& [section, records] : kSections) {
        for (const ResourceRecord& record : message.*records) {
            if (!writer.AddRecord(section, record)) return;
        }
    }
    Message again;
    Require(ParseMessage(writer.Bytes().data(), writer.Bytes().size(), again));
    Require(again.header.id == message.header.id && again.header.flags == message.header.flags);
    Require(SameList(again.questions, message.questions, SameQuestion));
    for (const auto& [section, records] : kSections)
        Require(SameList(again.*records, message.*records, SameRecord));
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
        for (const auto& section : kSections) CheckRecords(message.*section.second);
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
