// The protocol logic of one search, driven with crafted packets and a made-up clock.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <tuple>

#include "mdns/src/Search.h"
#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/Utf.h"
#include "tests/support/WireRecords.h"

namespace {

using namespace mdns;
using namespace mdns::wire;
using std::chrono::milliseconds;

const Name kService = {"_http", "_tcp", "local"};
const Name kHost = {"host", "local"};

Name InstanceName(const std::string& label) { return {label, "_http", "_tcp", "local"}; }

ResourceRecord PtrOf(Name service, Name target, uint32_t ttl = 4500) {
    ResourceRecord record = Record(std::move(service), RecordType::kPtr, ttl);
    record.ptrTarget = std::move(target);
    return record;
}

ResourceRecord Ptr(const std::string& label, uint32_t ttl = 4500) {
    return PtrOf(kService, InstanceName(label), ttl);
}

ResourceRecord Srv(const std::string& label, uint16_t port, uint32_t ttl = 120,
                   const Name& host = kHost) {
    ResourceRecord record = Record(InstanceName(label), RecordType::kSrv, ttl);
    record.srv = {0, 0, port, host};
    return record;
}

ResourceRecord Txt(const std::string& label, std::vector<std::string> strings) {
    ResourceRecord record = Record(InstanceName(label), RecordType::kTxt, 4500);
    record.txt = std::move(strings);
    return record;
}

ResourceRecord A(uint32_t ipv4, uint32_t ttl = 120, const Name& host = kHost) {
    ResourceRecord record = Record(host, RecordType::kA, ttl);
    record.ipv4 = ipv4;
    return record;
}

// An instance's PTR, SRV, TXT and address, as its responder announces it.
std::vector<ResourceRecord> Complete(const std::string& label, uint16_t port, uint32_t ptrTtl = 4500) {
    return {Ptr(label, ptrTtl), Srv(label, port), Txt(label, {"k=v"}), A(0xC0000201)};
}

std::vector<uint8_t> Response(const std::vector<ResourceRecord>& answers,
                              const std::vector<ResourceRecord>& additionals = {}) {
    MessageWriter writer(kMaxMessageSize, 0, HeaderFlag::kResponse | HeaderFlag::kAuthoritative);
    for (const auto& record : answers) EXPECT_TRUE(writer.AddRecord(Section::kAnswer, record));
    for (const auto& record : additionals)
        EXPECT_TRUE(writer.AddRecord(Section::kAdditional, record));
    return writer.Bytes();
}

void Feed(Search& search, const std::vector<uint8_t>& packet, Clock::time_point at,
          uint32_t source = 0) {
    search.OnPacket(packet.data(), packet.size(), 3, at, source);  // on interface 3
}

std::vector<Message> Queries(Search& search, Clock::time_point at) {
    std::vector<Message> messages;
    for (const auto& packet : search.TakeDueQueries(at)) {
        messages.emplace_back();
        EXPECT_TRUE(ParseMessage(packet.data(), packet.size(), messages.back()));
    }
    return messages;
}

class SearchTest : public ::testing::Test {
protected:
    Clock::time_point start = Clock::now();
    Search search{kService, start, true};
};

TEST_F(SearchTest, QueriesAtOnceAsUnicastThenAfterASecondThenBackingOff) {
    std::vector<Message> sent = Queries(search, start);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].questions.size(), 1u);
    const Question& browse = sent[0].questions[0];
    EXPECT_EQ(std::tie(browse.name, browse.type, browse.unicastResponse),
              std::make_tuple(kService, RecordType::kPtr, true));
    EXPECT_EQ(search.NextWakeup() - start, std::chrono::seconds(1))
        << "a second query sooner has every responder multicast its whole set again";
    EXPECT_TRUE(search.TakeDueQueries(start + milliseconds(999)).empty());

    Feed(search, Response({Ptr("One")}, {Srv("One", 80), Txt("One", {"a=1"}), A(1)}),
         start + milliseconds(5));
    search.TakeResolved(start + milliseconds(5));
    sent = Queries(search, start + std::chrono::seconds(1));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_FALSE(sent[0].questions[0].unicastResponse);
    ASSERT_EQ(sent[0].answers.size(), 1u) << "the PTR held goes along as a known answer";
    EXPECT_EQ(sent[0].answers[0].ptrTarget, InstanceName("One"));
    EXPECT_EQ(search.NextWakeup() - start, std::chrono::seconds(3));
}

const ResourceRecord kOtherService =
    PtrOf({"_ipp", "_tcp", "local"}, {"P", "_ipp", "_tcp", "local"});

// Each row feeds packets at their times and takes what is resolved then and when it is due.
using Report = std::tuple<int, std::u16string, uint32_t, uint16_t, std::string, uint32_t>;
struct OneSearchCase {
    const char* what;
    std::vector<std::pair<int, std::vector<uint8_t>>> heard;  // at ms, a packet
    int lastTake;                                               // ms
    std::vector<Report> reported;  // taken at ms, name, address, port, text, TTL
    size_t held;
};

TEST(SearchReports, WhatIsCompleteAndLiveOnce) {
    const auto two = Response({A(0xC0000201), Txt("Two", {"path=/x", "", "k=v"})},
                              {Srv("Two", 8080), Ptr("Two")});
    MessageWriter query(kMaxMessageSize);
    ASSERT_TRUE(query.AddRecord(Section::kAnswer, Ptr("Asked")));
    const int grace = static_cast<int>(Search::kTxtGrace.count());
    const std::vector<OneSearchCase> cases = {
        {"records in any order, once, whatever the copy or the case",
         {{1, two}, {2, two}, {3, Response({Ptr("TWO")}, {Srv("TWO", 8080), Txt("TWO", {"x"})})}},
         3, {{1, u"Two", 0xC0000201, 8080, std::string("path=/x\0k=v\0\0", 13), 120}}, 1},
        {"without TXT, an empty text once the grace is over",
         {{1, Response({Ptr("Bare")}, {Srv("Bare", 81), A(2)})}}, 100,
         {{1 + grace, u"Bare", 2, 81, std::string(1, '\0'), 119}}, 1},
        {"a goodbye drops one not yet reported",
         {{1, Response({Ptr("Gone")}, {Srv("Gone", 80), Txt("Gone", {"a"})})},
          {2, Response({Ptr("Gone", 0)})},
          {3, Response({A(3)}, {Srv("Gone", 80), Txt("Gone", {"a"})})}},
         400, {}, 0},
        {"an address said goodbye to completes nothing",
         {{5, Response({Ptr("Later")}, {Srv("Later", 80), Txt("Later", {"a"})})},
          {6, Response({A(3, 0)})}},
         500, {}, 1},
        {"queries, other services and deeper names",
         {{1, query.Bytes()},
          {1, Response({kOtherService, PtrOf(kService, {"a", "b", "_http", "_tcp", "local"})})}},
         1, {}, 0},
    };
    for (const OneSearchCase& row : cases) {
        SCOPED_TRACE(row.what);
        const Clock::time_point start = Clock::now();
        Search one(kService, start, true);
        std::set<int> takes = {row.lastTake};
        for (const auto& heard : row.heard) takes.insert(heard.first);
        for (const Report& report : row.reported) takes.insert(std::get<0>(report));
        std::vector<Report> reported;
        size_t fed = 0;
        for (int at : takes) {
            for (; fed < row.heard.size() && row.heard[fed].first <= at; ++fed)
                Feed(one, row.heard[fed].second, start + milliseconds(at));
            for (ResolvedInstance& instance : one.TakeResolved(start + milliseconds(at))) {
                EXPECT_EQ(instance.interfaceIndex, 3u);
                reported.emplace_back(at, instance.name, instance.ipv4, instance.port,
                                      instance.txtText, instance.ttl);
            }
        }
        EXPECT_EQ(reported, row.reported);
        EXPECT_EQ(one.HeldInstances(), row.held);
    }
}

// Only what is missing is asked for, unicast first, then rarer; an expired record is missing again.
TEST_F(SearchTest, AsksOnlyForWhatIsMissing) {
    const auto at = [this](int ms) { return start + milliseconds(ms); };
    Feed(search, Response({Ptr("Three")}, {Srv("Three", 80), Txt("Three", {"a"})}), at(1));
    Feed(search, Response({Ptr("Four")}), at(1));
    Feed(search, Response({Ptr("Brief")}, {Srv("Brief", 80, 1), Txt("Brief", {"a"})}), at(1));
    search.TakeDueQueries(start);
    using Asked = std::multiset<std::pair<std::string, uint16_t>>;
    auto asked = [&](int ms, bool unicast) {
        Asked names;
        for (const Message& query : Queries(search, at(ms))) {
            for (const Question& question : query.questions) {
                if (question.type == RecordType::kPtr) continue;
                names.emplace(NameKey(question.name), question.type);
                EXPECT_EQ(question.unicastResponse, unicast);
            }
        }
        return names;
    };
    EXPECT_EQ(asked(41, true), (Asked{{NameKey(kHost), RecordType::kA},
                                      {NameKey(InstanceName("Four")), RecordType::kTxt},
                                      {NameKey(InstanceName("Four")), RecordType::kSrv}}));
    EXPECT_TRUE(asked(100, false).empty());
    EXPECT_FALSE(asked(125, false).empty());

    Feed(search, Response({A(0x0A000001)}), at(1500));
    const auto resolved = search.TakeResolved(at(1500));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].name, u"Three");
    EXPECT_EQ(asked(1500, false).count({NameKey(InstanceName("Brief")), RecordType::kSrv}), 1u);
}

// A second search on the first one's cache, answered by 192.0.2.1 with `heardAgain`'s PTRs,
// which alone go as known answers (a responder would hold back what confirms one cached).
struct CacheCase {
    const char* what;
    std::vector<std::pair<int, std::vector<ResourceRecord>>> heard;  // at ms, a response
    int secondAt;                                                    // ms
    std::vector<std::string> heardAgain;
    std::vector<std::pair<std::u16string, uint16_t>> reported;  // name, port, in order
    std::multiset<uint16_t> askedTypes;  // of the second search's first resolve questions
    std::vector<ResourceRecord> thenHeard = {};  // from the same responder, 10 ms later
};

// The PTR of `label` among others enough to fill a packet, as the first of several.
std::vector<std::string> FullAnswerWith(const std::string& label) {
    std::vector<std::string> labels = {label};
    for (char c = 'a'; c < 'a' + 24; ++c) labels.push_back(std::string(40, c));
    return labels;
}

TEST(RecordCacheTest, ASearchStartsFromWhatTheOneBeforeHeard) {
    const uint16_t kSrv = RecordType::kSrv;
    const std::vector<CacheCase> cases = {
        {"those its host left out of its answer are asked for, and reported once answered",
         {{1, Complete("Left", 80)}, {2, Complete("Late", 81)}, {3, Complete("Stayed", 82)},
          {4, Complete("Also", 83)}}, 1500, {"Stayed", "Also"},
         {{u"Stayed", 82}, {u"Also", 83}, {u"Late", 81}}, {kSrv, kSrv}, {Srv("Late", 81)}},
        {"one heard within the last second, which its host may hold back, is not left out",
         {{1, Complete("Stayed", 80)}, {2, Complete("Also", 81)}, {600, Complete("Recent", 82)}},
         1500, {"Stayed", "Also"}, {{u"Stayed", 80}, {u"Also", 81}, {u"Recent", 82}}, {}},
        {"a packet with room left after a full one does not end the answer",
         {{1, Complete("Later", 80)}, {2, Complete("Sooner", 81)}}, 1500, FullAnswerWith("Sooner"),
         {{u"Sooner", 81}, {u"Later", 80}}, {}, {Ptr("Other")}},
        {"a late end of an earlier answer, with under half of the host's, does not end this one",
         {{1, Complete("A", 80)}, {2, Complete("B", 81)}, {3, Complete("C", 82)}}, 1500, {"C"},
         {{u"C", 82}, {u"A", 80}, {u"B", 81}}, {}},
        {"those of a silent host are trusted, in the order known",
         {{1, Complete("Quiet", 80)}, {2, Complete("Calm", 81)}}, 1000, {},
         {{u"Quiet", 80}, {u"Calm", 81}}, {}},
        {"a goodbye keeps it out", {{1, Complete("Gone", 80)}, {5, {Ptr("Gone", 0)}}}, 100,
         {"Gone"}, {}, {}},
        {"an expired SRV is asked for again, not reported",
         {{1, {Ptr("Short"), Srv("Short", 80, 2), Txt("Short", {"a"}), A(1)}}}, 3000, {"Short"},
         {}, {kSrv}},
        {"an expired address is asked for again, and its answer alone confirms no instance",
         {{1, {Ptr("Moved"), Srv("Moved", 80), Txt("Moved", {"a"}), A(1, 1)}}}, 1500, {}, {},
         {RecordType::kA}, {A(1)}},
        {"a changed port, with no question asked",
         {{1, Complete("Port", 80)}, {2000, {Srv("Port", 8080)}}}, 2500, {"Port"},
         {{u"Port", 8080}}, {}},
        {"a missing TXT is asked for first", {{1, {Ptr("NoTxt"), Srv("NoTxt", 80), A(1)}}}, 100,
         {"NoTxt"}, {{u"NoTxt", 80}}, {RecordType::kTxt}},
        {"records near the end of their TTL are refreshed",
         {{1, {Ptr("Old", 10), Srv("Old", 80, 10), Txt("Old", {"a"}), A(1)}}}, 8600, {"Old"},
         {{u"Old", 80}}, {kSrv}},
        {"another service's instances stay out", {{1, {kOtherService}}}, 100, {}, {}, {}},
    };
    for (const CacheCase& row : cases) {
        SCOPED_TRACE(row.what);
        RecordCache cache;
        const Clock::time_point start = Clock::now();
        Search first(kService, start, true, &cache);
        for (const auto& [at, records] : row.heard)
            Feed(first, Response(records), start + milliseconds(at));
        const Clock::time_point second = start + milliseconds(row.secondAt);
        Search next(kService, second, true, &cache);
        std::vector<ResourceRecord> answers;
        for (const std::string& label : row.heardAgain) answers.push_back(Ptr(label));
        if (!answers.empty()) Feed(next, Response(answers), second, 0xC0000201);
        std::vector<std::pair<std::u16string, uint16_t>> reported;
        auto take = [&](Clock::time_point at) {
            for (const ResolvedInstance& instance : next.TakeResolved(at)) {
                reported.emplace_back(instance.name, instance.port);
                EXPECT_EQ(instance.interfaceIndex, 3u);
                EXPECT_GT(instance.ttl, 0u);
            }
        };
        take(second);
        std::multiset<uint16_t> asked;
        std::multiset<std::string> known;
        for (const Message& query : Queries(next, second)) {
            for (const Question& question : query.questions)
                if (question.type != RecordType::kPtr) asked.insert(question.type);
            for (const ResourceRecord& answer : query.answers) known.insert(answer.ptrTarget[0]);
        }
        EXPECT_EQ(asked, row.askedTypes);
        EXPECT_EQ(known, std::multiset<std::string>(row.heardAgain.begin(), row.heardAgain.end()));
        if (!row.thenHeard.empty())
            Feed(next, Response(row.thenHeard), second + milliseconds(10), 0xC0000201);
        take(second + Search::kCacheTrustDelay);
        EXPECT_EQ(reported, row.reported);
    }
}

// A flood stops at the search's and cache's bounds; once it expires, a real instance fits.
TEST(RecordCacheTest, AFloodStaysWithinTheBoundsAndExpiresAway) {
    RecordCache cache;
    const Clock::time_point start = Clock::now();
    Search search(kService, start, true, &cache);
    const std::string bigText(250, 'x');
    for (uint32_t i = 0; i < 6000; ++i) {
        const std::string label = "Flood " + std::to_string(i);
        const Name target = {"h" + std::to_string(i), "local"};
        Feed(search,
             Response({Ptr(label, 10), Srv(label, 80, 120, target), Txt(label, {bigText, bigText}),
                       A(i, 120, target), A(i, 120, {"g" + std::to_string(i), "local"})}),
             start);
    }
    EXPECT_EQ(search.HeldInstances(), Search::kMaxInstances);
    EXPECT_EQ(cache.PointerCount(), RecordCache::kMaxPointers);
    EXPECT_EQ(cache.InstanceCount(), RecordCache::kMaxInstances);
    EXPECT_EQ(cache.HostCount(), RecordCache::kMaxHosts);
    EXPECT_LE(cache.TxtBytes(), RecordCache::kMaxTxtBytes);
    cache.Add(Ptr("Real"), 1, start + std::chrono::seconds(11));
    EXPECT_EQ(cache.LivePointers(NameKey(kService), start + std::chrono::seconds(11)).size(), 1u);
}

TEST(RecordCacheTest, AFlushedAddressGivesWayToTheNewOneAfterASecond) {
    RecordCache cache;
    const Clock::time_point start = Clock::now();
    const auto at = [&](int ms) { return start + milliseconds(ms); };
    const std::pair<int, uint32_t> announced[] = {{0, 1}, {500, 2}, {2000, 3}};
    for (const auto& [ms, ipv4] : announced) {
        ResourceRecord flushing = A(ipv4);
        flushing.cacheFlush = true;
        cache.Add(flushing, 1, at(ms));
        // Within a second of the first, the second is of the same announcement.
        EXPECT_EQ(cache.LiveAddress(NameKey(kHost), at(ms))->ipv4, ms == 500 ? 1u : ipv4);
    }
    cache.Add(A(3, 0), 1, at(2100));
    EXPECT_EQ(cache.LiveAddress(NameKey(kHost), at(2100)), nullptr) << "goodbye";
    cache.Expire(at(3200));
    EXPECT_EQ(cache.HostCount(), 0u);
}

// A followed search fed from 192.0.2.1: "+Name:port" a report, "-Name" a removal, "?Name" a
// question, at the times fed, the browse rounds and the checks.
struct FollowCase {
    const char* what;
    std::vector<std::pair<int, std::vector<ResourceRecord>>> heard;  // at ms
    std::vector<int> checks;                                         // ms
    std::vector<std::pair<int, std::string>> seen;
};

TEST(FollowedSearch, ReportsChangesAndDeparturesOnce) {
    const std::vector<FollowCase> cases = {
        {"a goodbye removes it a second later, once", {{0, Complete("One", 80)}, {100, {Ptr("One", 0)}}},
         {1099, 1100, 5000}, {{0, "+One:80"}, {1100, "-One"}}},
        {"a goodbye taken back", {{0, Complete("One", 80)}, {100, {Srv("One", 80, 0)}}, {600, {Srv("One", 80)}}},
         {1100, 5000}, {{0, "+One:80"}}},
        {"a new port or text reported again; a repeat is not",
         {{0, Complete("One", 80)}, {50, Complete("One", 80)}, {100, {Srv("One", 81)}},
          {200, {Txt("One", {"path=/new"})}}},
         {}, {{0, "+One:80"}, {100, "+One:81"}, {200, "+One:81"}}},
        {"an expired SRV removes it, refreshed in vain", {{0, {Ptr("Two"), Srv("Two", 80, 10), Txt("Two", {"a"}), A(1)}}},
         {8000, 8500, 9999, 10000}, {{0, "+Two:80"}, {8000, "?Two"}, {8500, "?Two"}, {10000, "-Two"}}},
        {"left out of its host's answer and silent when asked",
         {{0, Complete("One", 80, 10)}, {7010, Complete("New", 81)}},
         {8009, 8010}, {{0, "+One:80"}, {7010, "+New:81"}, {7010, "?One"}, {8010, "-One"}}},
        {"left out of its host's answer and answering when asked",
         {{0, Complete("One", 80, 10)}, {7010, Complete("New", 81)}, {7020, {Srv("One", 80)}}},
         {8010, 9000}, {{0, "+One:80"}, {7010, "+New:81"}, {7010, "?One"}}},
    };
    for (const FollowCase& row : cases) {
        SCOPED_TRACE(row.what);
        const Clock::time_point start = Clock::now();
        Search search(kService, start, false);
        search.Follow();
        std::set<int> times(row.checks.begin(), row.checks.end());
        for (const auto& heard : row.heard) times.insert(heard.first);
        for (int ms = 1000; ms < 10000; ms *= 2) times.insert(ms - 1000);  // the browse rounds
        std::vector<std::pair<int, std::string>> seen;
        size_t fed = 0;
        for (int ms : times) {
            const Clock::time_point at = start + milliseconds(ms);
            for (; fed < row.heard.size() && row.heard[fed].first <= ms; ++fed)
                Feed(search, Response(row.heard[fed].second), at, 0xC0000201);
            for (const ResolvedInstance& instance : search.TakeResolved(at))
                seen.emplace_back(ms, "+" + Utf16ToUtf8(instance.name) + ":" + std::to_string(instance.port));
            for (const std::u16string& name : search.TakeRemoved(at)) seen.emplace_back(ms, "-" + Utf16ToUtf8(name));
            for (const Message& query : Queries(search, at)) {
                for (const Question& question : query.questions)
                    if (question.type == RecordType::kSrv) seen.emplace_back(ms, "?" + question.name[0]);
            }
        }
        EXPECT_EQ(seen, row.seen);
    }
}

// Asks after an unresolvable instance a few seconds only; refreshes none it did not report.
TEST(FollowedSearch, LeavesTheUnresolvedAlone) {
    const Clock::time_point start = Clock::now();
    Search search(kService, start, false);
    search.Follow();
    Feed(search, Response({Ptr("Nowhere", 4500)}, {Srv("Nowhere", 80, 20)}), start);
    int lastAsked = 0;
    for (int ms = 0; ms <= 60000; ms += 10) {
        for (const Message& query : Queries(search, start + milliseconds(ms)))
            for (const Question& question : query.questions)
                if (question.type != RecordType::kPtr) lastAsked = ms;
        EXPECT_TRUE(search.TakeResolved(start + milliseconds(ms)).empty());
    }
    EXPECT_GT(lastAsked, 0);
    EXPECT_LT(lastAsked, 10000);
}

}  // namespace
