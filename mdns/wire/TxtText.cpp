#include "mdns/wire/TxtText.h"

namespace mdns::wire {

std::string ToTxtText(const std::vector<std::string>& strings) {
    std::string text;
    for (const std::string& entry : strings) {
        if (entry.empty() || entry.find('\0') != std::string::npos) continue;
        text.append(entry).push_back('\0');
    }
    text.push_back('\0');
    return text;
}

}  // namespace mdns::wire
