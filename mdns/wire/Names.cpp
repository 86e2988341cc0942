#include "mdns/wire/Names.h"

namespace mdns::wire {

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool LabelEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

bool NameEquals(const Name& a, const Name& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (!LabelEquals(a[i], b[i])) return false;
    }
    return true;
}

std::string NameKey(const Name& name) {
    std::string key;
    for (const std::string& label : name) {
        key.push_back(static_cast<char>(label.size()));
        for (char c : label) key.push_back(FoldAscii(c));
    }
    return key;
}

Name NameFromDotted(std::string_view dotted) {
    Name name;
    while (!dotted.empty()) {
        const size_t dot = dotted.find('.');
        const std::string_view label = dotted.substr(0, dot);
        if (!label.empty()) name.emplace_back(label);
        if (dot == std::string_view::npos) break;
        dotted.remove_prefix(dot + 1);
    }
    return name;
}

bool IsInstanceOf(const Name& instance, const Name& service) {
    if (instance.size() != service.size() + 1) return false;
    for (size_t i = 0; i < service.size(); ++i) {
        if (!LabelEquals(instance[i + 1], service[i])) return false;
    }
    return true;
}

}  // namespace mdns::wire
