#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "mdns/wire/BrowseDomains.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/UnicastMessage.h"
#include "tests/support/WireRecords.h"

using namespace mdns::wire;

namespace {

template <class... Columns>
using Rows = std::vector<std::tuple<Columns...>>;

const Name kService{"_http", "_tcp"};

Name Query(const char* kind, Name base) {
    base.insert(base.begin(), {kind, "_dns-sd", "_udp"});
    return base;
}

}  // namespace

// lb and db at each configured domain, then at each network with its host bits cleared;
// each once, nothing in .local, nothing malformed, and no more than the bounds.
TEST(BrowseDomains, AskedAtEachDomainAndNetworkOnceWithinBounds) {
    const Name corp{"corp", "example"};
    const Name net24{"0", "2", "0", "192", "in-addr", "arpa"};
    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i) many.push_back("d" + std::to_string(i) + ".example");
    for (const auto& [domains, networks, first, count] :
         Rows<std::vector<std::string>, std::vector<NetworkPrefix>, std::vector<Name>, size_t>{
             {{"corp.example.", "CORP.example", "local", "x.local"}, {{0xC0000281, 24}},
              {Query("lb", corp), Query("db", corp), Query("lb", net24), Query("db", net24)}, 4},
             {{}, {{0xC6336417, 20}, {0xC6336401, 0}, {0xC6336401, 33}},
              {Query("lb", {"0", "96", "51", "198", "in-addr", "arpa"})}, 2},
             {{std::string(64, 'x') + ".example", ""}, {}, {}, 0},
             {many, {{0x0A000001, 8}, {0x0B000001, 8}, {0x0C000001, 8}, {0x0D000001, 8},
                     {0x0E000001, 8}},
              {Query("lb", {"d0", "example"})}, 2 * (kMaxConfiguredDomains + kMaxNetworks)}}) {
        const std::vector<Name> queries = BrowseDomainQueries(domains, networks);
        EXPECT_EQ(count, queries.size());
        for (size_t i = 0; i < first.size() && i < queries.size(); ++i)
            EXPECT_TRUE(NameEquals(first[i], queries[i])) << i << testing::PrintToString(queries[i]);
    }
}

TEST(BrowseDomains, KeepsAtMostEightDistinctBrowsableDomains) {
    std::vector<Name> domains;
    const Name longDomain(4, std::string(60, 'l'));
    for (const auto& [domain, added] : Rows<Name, bool>{{{"corp", "example"}, true},
                                                        {{"CORP", "Example"}, false},
                                                        {Name{}, false},
                                                        {{"printers", "local"}, false},
                                                        {longDomain, false}})
        EXPECT_EQ(added, AddBrowseDomain(domains, domain, kService)) << testing::PrintToString(domain);
    for (int i = 0; i < 10; ++i) AddBrowseDomain(domains, {"d" + std::to_string(i), "example"}, kService);
    EXPECT_EQ(kMaxBrowseDomains, domains.size());
}

// Only the answer to the question asked is read: its records of the type and name asked,
// the A records its SRV targets name, and how long an absence may be kept.
TEST(UnicastAnswer, ReadsOnlyTheReplyToItsOwnQuestion) {
    const Name instance{"Printer", "_http", "_tcp", "corp", "example"};
    const Name host{"host", "corp", "example"};
    auto reply = [&](uint16_t id, uint16_t flags, const Name& asked, uint16_t type, bool soa) {
        MessageWriter writer(kMaxMessageSize, id, flags);
        writer.AddQuestion({asked, type});
        ResourceRecord srv = Record(instance, RecordType::kSrv, 60);
        srv.srv = {0, 0, 8080, host};
        writer.AddRecord(Section::kAnswer, srv);
        srv.name = {"Other", "_http", "_tcp", "corp", "example"};
        writer.AddRecord(Section::kAnswer, srv);
        if (soa) writer.AddRecord(Section::kAuthority, Soa({"corp", "example"}, 300, 30));
        for (Name name : {host, Name{"elsewhere", "example"}}) {
            ResourceRecord address = Record(name, RecordType::kA, 60);
            address.ipv4 = 0xC6336401;
            writer.AddRecord(Section::kAdditional, address);
        }
        return writer.Bytes();
    };
    const uint16_t kResponse = HeaderFlag::kResponse;
    for (const auto& [id, flags, asked, type, soa, kind, records, negativeTtl] :
         Rows<uint16_t, uint16_t, Name, uint16_t, bool, AnswerKind, size_t, uint32_t>{
             {7, kResponse, instance, RecordType::kSrv, false, AnswerKind::kAnswer, 2, 0},
             {8, kResponse, instance, RecordType::kSrv, false, AnswerKind::kNotOurs, 0, 0},
             {7, 0, instance, RecordType::kSrv, false, AnswerKind::kNotOurs, 0, 0},
             {7, kResponse, host, RecordType::kSrv, false, AnswerKind::kNotOurs, 0, 0},
             {7, kResponse, instance, RecordType::kTxt, false, AnswerKind::kNotOurs, 0, 0},
             {7, kResponse | HeaderFlag::kTruncated, instance, RecordType::kSrv, false,
              AnswerKind::kTruncated, 0, 0},
             {7, kResponse | 3, instance, RecordType::kSrv, true, AnswerKind::kNoSuchName, 0, 30},
             {7, kResponse | 2, instance, RecordType::kSrv, false, AnswerKind::kServerError, 0, 0},
             {7, kResponse | 0x0800, instance, RecordType::kSrv, false, AnswerKind::kNotOurs, 0, 0}}) {
        const std::vector<uint8_t> bytes = reply(id, flags, asked, type, soa);
        const UnicastAnswer answer = ReadUnicastAnswer(bytes.data(), bytes.size(), 7, instance,
                                                       RecordType::kSrv);
        EXPECT_EQ(kind, answer.kind) << id << " " << flags;
        EXPECT_EQ(records, answer.records.size()) << id << " " << flags;
        EXPECT_EQ(negativeTtl, answer.negativeTtl) << id << " " << flags;
    }
    const std::vector<uint8_t> query = BuildUnicastQuery(7, instance, RecordType::kSrv);
    EXPECT_EQ(AnswerKind::kNotOurs,
              ReadUnicastAnswer(query.data(), query.size(), 7, instance, RecordType::kSrv).kind);
}
