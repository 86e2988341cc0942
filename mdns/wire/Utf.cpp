#include "mdns/wire/Utf.h"

#include <cstdint>

namespace mdns::wire {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Decodes one well-formed sequence at the start of `bytes` (Unicode Table 3-7). Returns the
// bytes it takes, or, for an ill-formed start, the length of its maximal ill-formed subpart
// (at least 1) with `ok` false.
size_t DecodeOne(std::string_view bytes, char32_t& codePoint, bool& ok) {
    const uint8_t lead = static_cast<uint8_t>(bytes[0]);
    ok = false;
    if (lead < 0x80) {
        codePoint = lead;
        ok = true;
        return 1;
    }
    size_t length = 0;
    uint8_t secondLow = 0x80;
    uint8_t secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondLow = 0xA0;   // overlong below U+0800
        if (lead == 0xED) secondHigh = 0x9F;  // surrogates U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondLow = 0x90;   // overlong below U+10000
        if (lead == 0xF4) secondHigh = 0x8F;  // over U+10FFFF
    } else {
        return 1;  // a continuation byte, C0, C1 or F5..FF: starts nothing
    }
    char32_t value = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if (i >= bytes.size()) return i;
        const uint8_t byte = static_cast<uint8_t>(bytes[i]);
        const bool inRange = i == 1 ? byte >= secondLow && byte <= secondHigh : IsContinuation(byte);
        if (!inRange) return i;
        value = value << 6 | (byte & 0x3F);
    }
    codePoint = value;
    ok = true;
    return length;
}

void AppendUtf16(std::u16string& out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | codePoint >> 6));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | codePoint >> 12));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | codePoint >> 18));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

std::u16string Convert(std::string_view utf8, bool replaceZero) {
    std::u16string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        char32_t codePoint = 0;
        bool ok = false;
        const size_t taken = DecodeOne(utf8, codePoint, ok);
        if (!ok || (replaceZero && codePoint == 0))
            out.push_back(kReplacement);
        else
            AppendUtf16(out, codePoint);
        utf8.remove_prefix(taken);
    }
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) { return Convert(utf8, false); }

std::u16string LabelToUtf16(std::string_view label) { return Convert(label, true); }

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        char32_t codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            codePoint = 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            codePoint = kReplacement;
        }
        AppendUtf8(out, codePoint);
    }
    return out;
}

}  // namespace mdns::wire
