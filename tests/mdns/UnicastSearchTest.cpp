// The unicast browse against a zone played by the test, with a made-up clock.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "mdns/src/UnicastSearch.h"
#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "tests/support/WireRecords.h"

namespace {

using namespace mdns;
using namespace mdns::wire;
using std::chrono::milliseconds;

const Name kType{"_http", "_tcp"};
const uint32_t kGood = 0xC0000235, kSilent = 0xC0000236, kFailing = 0xC0000237;

Name Dotted(const std::string& text) { return NameFromDotted(text); }

// A zone with browse-domain records and `count` services, as an administrator writes it.
std::vector<ResourceRecord> Zone(int count) {
    std::vector<ResourceRecord> zone;
    for (const char* target : {"corp.example", "printers.local", "corp.example"}) {
        zone.push_back(Record(Dotted("lb._dns-sd._udp.corp.example"), RecordType::kPtr, 300));
        zone.back().ptrTarget = Dotted(target);
    }
    zone.push_back(Record(Dotted("www.corp.example"), RecordType::kA, 60));
    zone.back().ipv4 = 0xC6336401;
    for (int i = 1; i <= count; ++i) {
        zone.push_back(Record(Dotted("_http._tcp.corp.example"), RecordType::kPtr, 300));
        zone.back().ptrTarget = {"Web " + std::to_string(i), "_http", "_tcp", "corp", "example"};
        zone.push_back(Record(zone.back().ptrTarget, RecordType::kSrv, 120));
        zone.back().srv = {0, 0, static_cast<uint16_t>(8000 + i), Dotted("www.corp.example")};
        if (i % 2) continue;  // odd ones have no TXT
        zone.push_back(Record(zone.back().name, RecordType::kTxt, 300));
        zone.back().txt = {"path=/" + std::to_string(i)};
    }
    return zone;
}

// The zone's answer (a name error for a name it lacks) or `rcode`; over UDP cut at 512 bytes.
std::vector<uint8_t> Reply(const std::vector<ResourceRecord>& zone, const UnicastQuery& query,
                           uint16_t rcode = 0) {
    Message asked;
    EXPECT_TRUE(ParseMessage(query.bytes.data(), query.bytes.size(), asked));
    const Question& question = asked.questions.at(0);
    bool exists = false;
    std::vector<ResourceRecord> answers;
    for (const ResourceRecord& record : zone) {
        if (!NameEquals(record.name, question.name)) continue;
        exists = true;
        if (record.type == question.type) answers.push_back(record);
    }
    if (rcode == 0 && !exists) rcode = 3;
    MessageWriter writer(query.overTcp ? kMaxMessageSize : 512, asked.header.id,
                         HeaderFlag::kResponse | HeaderFlag::kAuthoritative | rcode);
    writer.AddQuestion(question);
    for (const ResourceRecord& record : answers) {
        if (!writer.AddRecord(Section::kAnswer, record)) {
            writer.SetFlags(HeaderFlag::kResponse | HeaderFlag::kTruncated);
            break;
        }
    }
    if (answers.empty()) writer.AddRecord(Section::kAuthority, Soa(Dotted("corp.example"), 3600, 300));
    return writer.Bytes();
}

struct Outcome {
    std::vector<UnicastResolved> resolved;
    size_t queries = 0;
    size_t overTcp = 0;
    Clock::time_point end;
};

// Turns of a browser's loop until the search is done, each server answering as told.
Outcome Browse(UnicastSearch& search, const std::vector<ResourceRecord>& zone, Clock::time_point now,
           const std::map<uint32_t, uint16_t>& rcodes = {}) {
    Outcome run;
    for (int turn = 0; turn < 1000; ++turn) {
        for (const UnicastQuery& query : search.TakeDueQueries(now)) {
            ++run.queries;
            run.overTcp += query.overTcp;
            if (query.server == kSilent) continue;
            const auto code = rcodes.find(query.server);
            const std::vector<uint8_t> reply = Reply(zone, query, code == rcodes.end() ? 0 : code->second);
            search.OnReply(reply.data(), reply.size(), query.server, now);
        }
        for (UnicastResolved& resolved : search.TakeResolved()) run.resolved.push_back(std::move(resolved));
        if (search.Done()) break;
        now = std::max(now, search.NextWakeup());
    }
    run.end = now;
    return run;
}

std::set<std::tuple<std::u16string, uint32_t, uint16_t, std::string, std::string>> Items(const Outcome& run) {
    std::set<std::tuple<std::u16string, uint32_t, uint16_t, std::string, std::string>> items;
    for (const UnicastResolved& r : run.resolved)
        items.emplace(r.instance.name, r.instance.ipv4, r.instance.port, r.instance.txtText, r.domain);
    return items;
}

const std::vector<Name> kDiscovery{Dotted("lb._dns-sd._udp.corp.example"),
                                   Dotted("db._dns-sd._udp.corp.example")};

}  // namespace

// Each service of each browse domain once, with address, port and TXT (empty without one),
// over TCP once a reply came truncated; a refresh asks nothing within the TTLs, again after.
TEST(UnicastSearch, ResolvesEveryServiceOnceAndServesARefreshFromTheCache) {
    UnicastCache cache;
    const Clock::time_point start = Clock::now();
    UnicastSearch first(kType, {kGood}, kDiscovery, &cache, 1, start);
    const Outcome run = Browse(first, Zone(40), start);
    const auto items = Items(run);
    ASSERT_EQ(40u, run.resolved.size());
    EXPECT_EQ(40u, items.size());
    EXPECT_EQ(3u, run.queries - run.overTcp);  // lb, db and the PTR truncated: then TCP
    EXPECT_EQ(run.end, start);
    EXPECT_TRUE(items.count({u"Web 2", 0xC6336401, 8002, std::string("path=/2\0\0", 9), "corp.example"}));
    EXPECT_TRUE(items.count({u"Web 3", 0xC6336401, 8003, std::string(1, '\0'), "corp.example"}));

    for (const auto& [later, queries] : std::vector<std::pair<milliseconds, size_t>>{
             {milliseconds(59000), 0}, {milliseconds(61000), 1}, {milliseconds(121000), 41}}) {
        UnicastSearch again(kType, {kGood}, kDiscovery, &cache, 2, start + later);
        const Outcome refresh = Browse(again, Zone(40), start + later);
        EXPECT_EQ(items, Items(refresh)) << later.count();
        EXPECT_EQ(queries, refresh.queries) << later.count();
    }
}

// A server that never answers, or answers with an error, costs a retry each, never the
// services; with no server answering the search gives up, bounded, and lists nothing.
TEST(UnicastSearch, GoesPastSilentAndFailingServersAndGivesUpWhenAllAre) {
    const Clock::time_point start = Clock::now();
    const std::map<uint32_t, uint16_t> failing{{kFailing, 2}};
    for (const auto& [servers, listed, latest] :
         std::vector<std::tuple<std::vector<uint32_t>, size_t, milliseconds>>{
             {{kGood}, 5, milliseconds(0)},
             {{kSilent, kGood}, 5, UnicastSearch::kRetryAfter},
             {{kFailing, kGood}, 5, milliseconds(0)},
             {{kSilent, kFailing}, 0, UnicastSearch::kRetryAfter * 2},
             {{kFailing}, 0, milliseconds(0)}}) {
        UnicastSearch search(kType, servers, kDiscovery, nullptr, 3, start);
        const Outcome run = Browse(search, Zone(5), start, failing);
        EXPECT_TRUE(search.Done());
        EXPECT_EQ(listed, run.resolved.size()) << servers.size();
        EXPECT_LE(run.end - start, latest) << servers.size();
    }
}

// Only the reply to a query in flight, from the server it went to, with its id and its
// question, is taken: a spoofed or malformed one changes nothing.
TEST(UnicastSearch, TakesOnlyTheReplyToItsOwnQueryFromItsOwnServer) {
    const Clock::time_point start = Clock::now();
    UnicastSearch search(kType, {kGood}, {kDiscovery.front()}, nullptr, 4, start);
    const std::vector<UnicastQuery> queries = search.TakeDueQueries(start);
    ASSERT_EQ(1u, queries.size());
    std::vector<uint8_t> reply = Reply(Zone(1), queries[0]);
    // Which replies are its own the wire test says; here, that only those are taken.
    for (const auto& [bytes, server] : std::vector<std::pair<std::vector<uint8_t>, uint32_t>>{
             {reply, kSilent}, {{reply.begin(), reply.begin() + 20}, kGood}, {{reply[0]}, kGood},
             {queries[0].bytes, kGood}}) {
        search.OnReply(bytes.data(), bytes.size(), server, start);
        EXPECT_TRUE(search.TakeDueQueries(start).empty());
    }
    search.OnReply(reply.data(), reply.size(), kGood, start);
    EXPECT_EQ(1u, search.TakeDueQueries(start).size());
}
