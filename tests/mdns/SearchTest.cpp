// The protocol logic of one search, driven with crafted packets and a made-up clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <tuple>
#include <string>

#include "mdns/src/Search.h"
#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"

namespace {

using namespace mdns;
using namespace mdns::wire;
using std::chrono::milliseconds;

const Name kService = {"_http", "_tcp", "local"};

Name InstanceName(const std::string& label) {
    Name name = {label};
    name.insert(name.end(), kService.begin(), kService.end());
    return name;
}

ResourceRecord Ptr(const std::string& label, uint32_t ttl = 4500) {
    ResourceRecord record;
    record.name = kService;
    record.type = RecordType::kPtr;
    record.ttl = ttl;
    record.ptrTarget = InstanceName(label);
    return record;
}

ResourceRecord Srv(const std::string& label, const Name& host, uint16_t port) {
    ResourceRecord record;
    record.name = InstanceName(label);
    record.type = RecordType::kSrv;
    record.ttl = 120;
    record.srv.port = port;
    record.srv.target = host;
    return record;
}

ResourceRecord Txt(const std::string& label, std::vector<std::string> strings) {
    ResourceRecord record;
    record.name = InstanceName(label);
    record.type = RecordType::kTxt;
    record.ttl = 4500;
    record.txt = std::move(strings);
    return record;
}

ResourceRecord A(const Name& host, uint32_t ipv4, uint32_t ttl = 120) {
    ResourceRecord record;
    record.name = host;
    record.type = RecordType::kA;
    record.ttl = ttl;
    record.ipv4 = ipv4;
    return record;
}

std::vector<uint8_t> Response(const std::vector<ResourceRecord>& answers,
                              const std::vector<ResourceRecord>& additionals = {}) {
    MessageWriter writer(kMaxMessageSize, 0, HeaderFlag::kResponse | HeaderFlag::kAuthoritative);
    for (const auto& record : answers) EXPECT_TRUE(writer.AddRecord(Section::kAnswer, record));
    for (const auto& record : additionals) EXPECT_TRUE(writer.AddRecord(Section::kAdditional, record));
    return writer.Bytes();
}

ResourceRecord WithTtl(ResourceRecord record, uint32_t ttl) {
    record.ttl = ttl;
    return record;
}

class SearchTest : public ::testing::Test {
protected:
    Clock::time_point start = Clock::now();
    Search search{kService, start, true, 7};
    const Name host = {"host", "local"};

    void Feed(const std::vector<uint8_t>& packet, milliseconds at) {
        search.OnPacket(packet.data(), packet.size(), 3, start + at);
    }
    std::vector<ResolvedInstance> Resolved(milliseconds at) { return search.TakeResolved(start + at); }
    std::vector<Question> QuestionsAt(milliseconds at) {
        std::vector<Question> questions;
        for (const auto& packet : search.TakeDueQueries(start + at)) {
            Message message;
            EXPECT_TRUE(ParseMessage(packet.data(), packet.size(), message));
            questions.insert(questions.end(), message.questions.begin(), message.questions.end());
        }
        return questions;
    }
};

TEST_F(SearchTest, QueriesAtOnceAsUnicastThenSoonThenBackingOff) {
    auto first = search.TakeDueQueries(start);
    ASSERT_EQ(first.size(), 1u);
    Message message;
    ASSERT_TRUE(ParseMessage(first[0].data(), first[0].size(), message));
    ASSERT_EQ(message.questions.size(), 1u);
    EXPECT_TRUE(NameEquals(message.questions[0].name, kService));
    EXPECT_EQ(message.questions[0].type, RecordType::kPtr);
    EXPECT_TRUE(message.questions[0].unicastResponse);
    EXPECT_TRUE(search.TakeDueQueries(start + milliseconds(19)).empty());
    const auto second = search.NextWakeup() - start;
    EXPECT_GE(second, milliseconds(20));
    EXPECT_LE(second, milliseconds(120));

    Feed(Response({Ptr("One")}, {Srv("One", host, 80), Txt("One", {"a=1"}), A(host, 0xC0000201)}), milliseconds(5));
    Resolved(milliseconds(5));
    auto again = search.TakeDueQueries(start + second);
    ASSERT_EQ(again.size(), 1u);
    ASSERT_TRUE(ParseMessage(again[0].data(), again[0].size(), message));
    EXPECT_FALSE(message.questions[0].unicastResponse);
    ASSERT_EQ(message.answers.size(), 1u) << "the PTR held goes along as a known answer";
    EXPECT_TRUE(NameEquals(message.answers[0].ptrTarget, InstanceName("One")));
    EXPECT_GE(search.NextWakeup() - start, second + std::chrono::seconds(1));
}

// What one search reports from what it hears: each row feeds packets at their times and
// takes what is resolved at each of those times and at the times the reports are due.
using Report = std::tuple<int, std::u16string, uint32_t, uint16_t, std::string, uint32_t>;
struct OneSearchCase {
    const char* what;
    std::vector<std::pair<int, std::vector<uint8_t>>> heard;  // at ms, a packet
    int lastTake;                                               // ms
    std::vector<Report> reported;  // taken at ms, name, address, port, text, TTL
    size_t held;
};

std::vector<uint8_t> Cut(std::vector<uint8_t> packet) {
    packet.resize(packet.size() - 2);
    return packet;
}

std::vector<uint8_t> AsQuery(const ResourceRecord& record) {
    MessageWriter query(kMaxMessageSize);
    EXPECT_TRUE(query.AddRecord(Section::kAnswer, record));
    return query.Bytes();
}

ResourceRecord OfService(ResourceRecord record, Name service, Name target) {
    record.name = std::move(service);
    record.ptrTarget = std::move(target);
    return record;
}

TEST_F(SearchTest, ReportsWhatIsCompleteAndLiveOnce) {
    const auto two = Response({A(host, 0xC0000201), Txt("Two", {"path=/x", "", "k=v"})},
                              {Srv("Two", host, 8080), Ptr("Two")});
    const int grace = static_cast<int>(Search::kTxtGrace.count());
    const std::vector<OneSearchCase> cases = {
        {"records in any order, once, whatever the copy or the case",
         {{1, two}, {2, two}, {3, Response({Ptr("TWO")}, {Srv("TWO", host, 8080), Txt("TWO", {"x"})})}},
         3, {{1, u"Two", 0xC0000201, 8080, std::string("path=/x\0k=v\0\0", 13), 120}}, 1},
        {"without TXT, an empty text once the grace is over",
         {{1, Response({Ptr("Bare")}, {Srv("Bare", host, 81), A(host, 2)})}}, 100,
         {{1 + grace, u"Bare", 2, 81, std::string(1, '\0'), 119}}, 1},
        {"a goodbye drops one not yet reported",
         {{1, Response({Ptr("Gone")}, {Srv("Gone", host, 80), Txt("Gone", {"a"})})},
          {2, Response({Ptr("Gone", 0)})},
          {3, Response({A(host, 3)}, {Srv("Gone", host, 80), Txt("Gone", {"a"})})}},
         400, {}, 0},
        {"an address said goodbye to completes nothing",
         {{5, Response({Ptr("Later")}, {Srv("Later", host, 80), Txt("Later", {"a"})})},
          {6, Response({A(host, 3, 0)})}},
         500, {}, 1},
        {"an SRV that expired while the address was awaited",
         {{1, Response({Ptr("Brief")}, {WithTtl(Srv("Brief", host, 80), 1), Txt("Brief", {"a"})})},
          {1500, Response({A(host, 4)})}},
         1500, {}, 1},
        {"malformed packets, queries, other services and deeper names",
         {{1, Cut(Response({Ptr("Broken")}, {Srv("Broken", host, 80), A(host, 1)}))},
          {1, AsQuery(Ptr("Asked"))},
          {1, Response({OfService(Ptr("P"), {"_ipp", "_tcp", "local"}, {"P", "_ipp", "_tcp", "local"}),
                        OfService(Ptr("x"), kService, {"a", "b", "_http", "_tcp", "local"})})},
          {1, std::vector<uint8_t>(9001, 0)},
          {1, {}}},
         1, {}, 0},
    };
    for (const OneSearchCase& row : cases) {
        SCOPED_TRACE(row.what);
        Search one(kService, start, true, 7);
        std::set<int> takes = {row.lastTake};
        for (const auto& heard : row.heard) takes.insert(heard.first);
        for (const Report& report : row.reported) takes.insert(std::get<0>(report));
        std::vector<Report> reported;
        size_t fed = 0;
        for (int at : takes) {
            for (; fed < row.heard.size() && row.heard[fed].first <= at; ++fed) {
                const auto& packet = row.heard[fed].second;
                one.OnPacket(packet.data(), packet.size(), 3, start + milliseconds(at));
            }
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

// Only what is missing is asked for: first with a unicast reply, later less often by multicast;
// a record that expired while waiting is missing again.
TEST_F(SearchTest, AsksOnlyForWhatIsMissing) {
    Feed(Response({Ptr("Three")}, {Srv("Three", host, 80), Txt("Three", {"a"})}), milliseconds(1));
    Feed(Response({Ptr("Four")}), milliseconds(1));
    Feed(Response({Ptr("Brief")}, {WithTtl(Srv("Brief", host, 80), 1), Txt("Brief", {"a"})}),
         milliseconds(1));
    QuestionsAt(milliseconds(0));
    auto asked = [&](milliseconds at, bool unicast) {
        std::vector<std::pair<std::string, uint16_t>> names;
        for (const Question& question : QuestionsAt(at)) {
            if (question.type == RecordType::kPtr) continue;
            names.emplace_back(NameKey(question.name), question.type);
            EXPECT_EQ(question.unicastResponse, unicast);
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::pair<std::string, uint16_t>> expected = {
        {NameKey(host), RecordType::kA},
        {NameKey(InstanceName("Four")), RecordType::kTxt},
        {NameKey(InstanceName("Four")), RecordType::kSrv}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked(milliseconds(41), true), expected);
    EXPECT_TRUE(asked(milliseconds(100), false).empty());
    EXPECT_FALSE(asked(milliseconds(125), false).empty());

    Feed(Response({A(host, 0x0A000001)}), milliseconds(1500));
    auto resolved = Resolved(milliseconds(1500));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].name, u"Three");
    const auto again = asked(milliseconds(1500), false);
    EXPECT_NE(std::find(again.begin(), again.end(),
                        std::make_pair(NameKey(InstanceName("Brief")), RecordType::kSrv)),
              again.end());
}

TEST_F(SearchTest, HoldsAtMostTheCapOfInstances) {
    for (size_t base = 0; base < 5000; base += 100) {
        std::vector<ResourceRecord> answers;
        for (size_t i = base; i < base + 100; ++i) answers.push_back(Ptr("Flood " + std::to_string(i)));
        Feed(Response(answers), milliseconds(1));
    }
    EXPECT_EQ(search.HeldInstances(), Search::kMaxInstances);
}

// What a search after another finds in the cache that both share: each row feeds the first
// search, then starts the second at `secondAt`, where the responder at 192.0.2.1 answers its
// first query with the PTRs of `heardAgain` only, and checks what it reports by the time
// cached instances of silent hosts are trusted, and what it asks for at once.
struct CacheCase {
    const char* what;
    std::vector<std::pair<int, std::vector<ResourceRecord>>> heard;  // at ms, a response
    int secondAt;                                                    // ms
    std::vector<std::string> heardAgain;
    std::vector<std::pair<std::u16string, uint16_t>> reported;       // name, port, in order
    std::vector<uint16_t> askedTypes;  // of the second search's first resolve questions
    std::vector<ResourceRecord> thenHeard = {};  // from the same responder, 10 ms later
};

ResourceRecord Flushing(ResourceRecord record) {
    record.cacheFlush = true;
    return record;
}

// The PTR of `label` among others enough to fill a packet, as the first of several.
std::vector<std::string> FullAnswerWith(const std::string& label) {
    std::vector<std::string> labels = {label};
    for (char c = 'a'; c < 'a' + 24; ++c) labels.push_back(std::string(40, c));
    return labels;
}

TEST(RecordCacheTest, ASearchStartsFromWhatTheOneBeforeHeard) {
    const Name host = {"host", "local"};
    auto complete = [&](const std::string& label, uint16_t port) {
        return std::vector<ResourceRecord>{Ptr(label), Srv(label, host, port), Txt(label, {"k=v"}),
                                           A(host, 0xC0000201)};
    };
    const std::vector<CacheCase> cases = {
        {"complete instances, with no question asked", {{1, complete("B", 81)}, {2, complete("A", 80)}},
         1000, {"B", "A"}, {{u"B", 81}, {u"A", 80}}, {}},
        {"one its host left out of its answer is asked for, and not reported unanswered",
         {{1, complete("Left", 80)}, {2, complete("Stayed", 81)}}, 1000, {"Stayed"},
         {{u"Stayed", 81}}, {RecordType::kSrv}},
        {"one left out of its host's answer is reported once it answers for it",
         {{1, complete("Late", 80)}, {2, complete("Stayed", 81)}}, 1000, {"Stayed"},
         {{u"Stayed", 81}, {u"Late", 80}}, {RecordType::kSrv}, {Srv("Late", host, 80)}},
        {"one left out of a full packet is trusted: the rest of the answer may follow",
         {{1, complete("Later", 80)}, {2, complete("Sooner", 81)}}, 1000, FullAnswerWith("Sooner"),
         {{u"Sooner", 81}, {u"Later", 80}}, {}},
        {"a packet with room left after a full one does not end the answer",
         {{1, complete("Later", 80)}, {2, complete("Sooner", 81)}}, 1000, FullAnswerWith("Sooner"),
         {{u"Sooner", 81}, {u"Later", 80}}, {}, {Ptr("Other")}},
        {"a late end of an earlier answer, with under half of the host's, does not end this one",
         {{1, complete("A", 80)}, {2, complete("B", 81)}, {3, complete("C", 82)}}, 1000, {"C"},
         {{u"C", 82}, {u"A", 80}, {u"B", 81}}, {}},
        {"those of a silent host are trusted, in the order known",
         {{1, complete("Quiet", 80)}, {2, complete("Calm", 81)}}, 1000, {}, {{u"Quiet", 80}, {u"Calm", 81}}, {}},
        {"a goodbye keeps it out", {{1, complete("Gone", 80)}, {5, {Ptr("Gone", 0)}}}, 100, {"Gone"}, {}, {}},
        {"an expired SRV is asked for again, not reported",
         {{1, {Ptr("Short"), WithTtl(Srv("Short", host, 80), 2), Txt("Short", {"a"}), A(host, 1)}}},
         3000, {"Short"}, {}, {RecordType::kSrv}},
        {"an expired address is asked for again",
         {{1, {Ptr("Moved"), Srv("Moved", host, 80), Txt("Moved", {"a"}), A(host, 1, 1)}}},
         1500, {"Moved"}, {}, {RecordType::kA}},
        {"a changed port sent with cache-flush",
         {{1, complete("Port", 80)}, {2000, {Flushing(Srv("Port", host, 8080))}}}, 2500, {"Port"},
         {{u"Port", 8080}}, {}},
        {"a missing TXT is asked for first", {{1, {Ptr("NoTxt"), Srv("NoTxt", host, 80), A(host, 1)}}}, 100,
         {"NoTxt"}, {{u"NoTxt", 80}}, {RecordType::kTxt}},
        {"records near the end of their TTL are refreshed",
         {{1, {Ptr("Old"), WithTtl(Srv("Old", host, 80), 10), Txt("Old", {"a"}), A(host, 1)}}}, 8600,
         {"Old"}, {{u"Old", 80}}, {RecordType::kSrv}},
        {"another service's instances stay out",
         {{1, {[] { ResourceRecord r = Ptr("Printer"); r.name = {"_ipp", "_tcp", "local"};
                    r.ptrTarget = {"Printer", "_ipp", "_tcp", "local"}; return r; }()}}},
         100, {}, {}, {}},
    };
    for (const CacheCase& row : cases) {
        SCOPED_TRACE(row.what);
        RecordCache cache;
        const Clock::time_point start = Clock::now();
        Search first(kService, start, true, 1, &cache);
        for (const auto& [at, records] : row.heard) {
            const auto packet = Response(records);
            first.OnPacket(packet.data(), packet.size(), 2, start + milliseconds(at));
        }
        const Clock::time_point second = start + milliseconds(row.secondAt);
        Search next(kService, second, true, 1, &cache);
        std::vector<ResourceRecord> answers;
        for (const std::string& label : row.heardAgain) answers.push_back(Ptr(label));
        if (!answers.empty()) {
            const auto packet = Response(answers);
            next.OnPacket(packet.data(), packet.size(), 2, second, 0xC0000201);
        }
        std::vector<std::pair<std::u16string, uint16_t>> reported;
        auto take = [&](Clock::time_point at) {
            for (const ResolvedInstance& instance : next.TakeResolved(at)) {
                reported.emplace_back(instance.name, instance.port);
                EXPECT_EQ(instance.interfaceIndex, 2u);
                EXPECT_GT(instance.ttl, 0u);
            }
        };
        take(second);
        std::vector<uint16_t> asked;
        for (const auto& packet : next.TakeDueQueries(second)) {
            Message message;
            ASSERT_TRUE(ParseMessage(packet.data(), packet.size(), message));
            for (const Question& question : message.questions) {
                if (question.type != RecordType::kPtr) asked.push_back(question.type);
            }
        }
        EXPECT_EQ(asked, row.askedTypes);
        if (!row.thenHeard.empty()) {
            const auto packet = Response(row.thenHeard);
            next.OnPacket(packet.data(), packet.size(), 2, second + milliseconds(10), 0xC0000201);
        }
        take(second + Search::kCacheTrustDelay);
        EXPECT_EQ(reported, row.reported);
    }
}

// Cached PTRs go along as known answers only once heard again: their responder would
// otherwise hold back the answer that confirms them.
TEST(RecordCacheTest, KnownAnswersAreThePointersHeardAgain) {
    RecordCache cache;
    const Clock::time_point start = Clock::now();
    Search first(kService, start, true, 1, &cache);
    const auto packet = Response({Ptr("Heard"), Ptr("Cached"), Ptr("Half", 100)});
    first.OnPacket(packet.data(), packet.size(), 1, start);
    const Clock::time_point second = start + std::chrono::seconds(60);
    Search next(kService, second, true, 1, &cache);
    const auto firstQueries = next.TakeDueQueries(second);
    ASSERT_FALSE(firstQueries.empty());
    Message firstQuery;
    ASSERT_TRUE(ParseMessage(firstQueries[0].data(), firstQueries[0].size(), firstQuery));
    EXPECT_TRUE(firstQuery.answers.empty());
    const auto again = Response({Ptr("Heard"), Ptr("Half", 100)});
    next.OnPacket(again.data(), again.size(), 1, second + milliseconds(5));
    const auto queries = next.TakeDueQueries(second + milliseconds(121));
    ASSERT_FALSE(queries.empty());
    Message message;
    ASSERT_TRUE(ParseMessage(queries[0].data(), queries[0].size(), message));
    std::vector<std::string> known;
    for (const ResourceRecord& answer : message.answers) known.push_back(answer.ptrTarget.front());
    std::sort(known.begin(), known.end());
    EXPECT_EQ(known, (std::vector<std::string>{"Half", "Heard"}));
}

TEST(RecordCacheTest, AFloodStaysWithinTheBoundsAndExpiresAway) {
    RecordCache cache;
    const Clock::time_point start = Clock::now();
    const std::string bigText(250, 'x');
    for (size_t i = 0; i < 6000; ++i) {
        const std::string label = "Flood " + std::to_string(i);
        const Name target = {"h" + std::to_string(i), "local"};
        for (const ResourceRecord& record :
             {WithTtl(Ptr(label), 10), Srv(label, target, 80), Txt(label, {bigText, bigText}),
              A(target, static_cast<uint32_t>(i)), A(target, static_cast<uint32_t>(i) + 1)}) {
            cache.Add(record, 1, start);
        }
    }
    EXPECT_EQ(cache.PointerCount(), RecordCache::kMaxPointers);
    EXPECT_EQ(cache.InstanceCount(), RecordCache::kMaxInstances);
    EXPECT_LE(cache.HostCount(), RecordCache::kMaxHosts);
    EXPECT_LE(cache.TxtBytes(), RecordCache::kMaxTxtBytes);
    // Once the flood's pointers expire, a real instance finds room again.
    cache.Add(Ptr("Real"), 1, start + std::chrono::seconds(11));
    EXPECT_EQ(cache.LivePointers(NameKey(kService), start + std::chrono::seconds(11)).size(), 1u);
}

TEST(RecordCacheTest, AFlushedAddressGivesWayToTheNewOneAfterASecond) {
    RecordCache cache;
    const Clock::time_point start = Clock::now();
    const Name host = {"host", "local"};
    cache.Add(Flushing(A(host, 1)), 1, start);
    cache.Add(Flushing(A(host, 2)), 1, start + milliseconds(500));
    EXPECT_EQ(cache.LiveAddress(NameKey(host), start + milliseconds(500))->ipv4, 1u)
        << "within a second: the same announcement";
    cache.Add(Flushing(A(host, 3)), 1, start + milliseconds(2000));
    EXPECT_EQ(cache.LiveAddress(NameKey(host), start + milliseconds(2000))->ipv4, 3u);
    cache.Add(A(host, 3, 0), 1, start + milliseconds(2100));
    EXPECT_EQ(cache.LiveAddress(NameKey(host), start + milliseconds(2100)), nullptr) << "goodbye";
    cache.Expire(start + milliseconds(3200));
    EXPECT_EQ(cache.HostCount(), 0u);
}

}  // namespace
