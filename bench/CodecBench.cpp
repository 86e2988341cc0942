// Prints what the codec costs per packet: parsing a full 9000-byte response of resolved
// services, and building the query with 1000 known answers that a large browse sends.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "mdns/wire/DnsWire.h"

using namespace mdns::wire;

namespace {

using Clock = std::chrono::steady_clock;

const Name kService{"_http", "_tcp", "local"};

std::string InstanceLabel(int i) { return "Web server number " + std::to_string(i); }

ResourceRecord Record(Name name, uint16_t type, uint32_t ttl) {
    ResourceRecord record;
    record.name = std::move(name);
    record.type = type;
    record.ttl = ttl;
    record.cacheFlush = type != RecordType::kPtr;
    return record;
}

// A response in the shape responders announce services: `services` PTR answers, then
// the SRV, TXT and A records of each. False when it does not fit in one message.
bool BuildResponse(int services, std::vector<uint8_t>& packet) {
    MessageWriter writer(kMaxMessageSize, 0, HeaderFlag::kResponse | HeaderFlag::kAuthoritative);
    for (int i = 0; i < services; ++i) {
        ResourceRecord ptr = Record(kService, RecordType::kPtr, 4500);
        ptr.ptrTarget = {InstanceLabel(i), "_http", "_tcp", "local"};
        if (!writer.AddRecord(Section::kAnswer, ptr)) return false;
    }
    for (int i = 0; i < services; ++i) {
        const Name instance{InstanceLabel(i), "_http", "_tcp", "local"};
        const Name host{"host-" + std::to_string(i), "local"};
        ResourceRecord srv = Record(instance, RecordType::kSrv, 120);
        srv.srv = {0, 0, 80, host};
        ResourceRecord txt = Record(instance, RecordType::kTxt, 4500);
        txt.txt = {"path=/index.html", "txtvers=1"};
        ResourceRecord a = Record(host, RecordType::kA, 120);
        a.ipv4 = 0xC0000200u + static_cast<uint32_t>(i);
        if (!writer.AddRecord(Section::kAdditional, srv) ||
            !writer.AddRecord(Section::kAdditional, txt) ||
            !writer.AddRecord(Section::kAdditional, a))
            return false;
    }
    packet = writer.Bytes();
    return true;
}

}  // namespace

int main() {
    std::vector<uint8_t> packet;
    int services = 0;
    while (BuildResponse(services + 1, packet)) ++services;
    BuildResponse(services, packet);
    constexpr int kRounds = 20000;
    Message message;
    const auto parseStart = Clock::now();
    for (int round = 0; round < kRounds; ++round) ParseMessage(packet.data(), packet.size(), message);
    const double parseUs =
        std::chrono::duration<double, std::micro>(Clock::now() - parseStart).count() / kRounds;
    std::printf("parse: %zu-byte response, %d services, %zu records: %.1f us per packet, "
                "%.2f us per service\n",
                packet.size(), services, message.answers.size() + message.additionals.size(),
                parseUs, parseUs / services);

    std::vector<KnownAnswer> known;
    for (int i = 0; i < 1000; ++i) {
        KnownAnswer answer;
        answer.name = kService;
        answer.ttl = 4500;
        answer.ptrTarget = {InstanceLabel(i), "_http", "_tcp", "local"};
        known.push_back(answer);
    }
    Question question;
    question.name = kService;
    question.type = RecordType::kPtr;
    constexpr int kQueryRounds = 500;
    size_t packets = 0;
    const auto buildStart = Clock::now();
    for (int round = 0; round < kQueryRounds; ++round) packets = BuildQuery({question}, known).size();
    const double buildUs =
        std::chrono::duration<double, std::micro>(Clock::now() - buildStart).count() / kQueryRounds;
    std::printf("query: 1 question and 1000 known answers in %zu packets of at most %zu bytes: "
                "%.0f us\n",
                packets, kDefaultQuerySize, buildUs);
    return 0;
}
