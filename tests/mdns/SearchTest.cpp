// The protocol logic of one search, driven with crafted packets and a made-up clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

TEST_F(SearchTest, ReportsEachInstanceOnceWithItsRecordsInAnyOrder) {
    const auto packet = Response({A(host, 0xC0000201), Txt("Two", {"path=/x", "", "k=v"})},
                                 {Srv("Two", host, 8080), Ptr("Two")});
    Feed(packet, milliseconds(1));
    auto resolved = Resolved(milliseconds(1));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].name, u"Two");
    EXPECT_EQ(resolved[0].ipv4, 0xC0000201u);
    EXPECT_EQ(resolved[0].port, 8080);
    EXPECT_EQ(resolved[0].txtText, std::string("path=/x\0k=v\0\0", 13));
    EXPECT_EQ(resolved[0].interfaceIndex, 3u);
    EXPECT_EQ(resolved[0].ttl, 120u);
    // The same answer again, from another interface, and with the name in other case.
    Feed(packet, milliseconds(2));
    Feed(Response({Ptr("TWO")}, {Srv("TWO", host, 8080), Txt("TWO", {"x"})}), milliseconds(3));
    EXPECT_TRUE(Resolved(milliseconds(3)).empty());
    EXPECT_EQ(search.HeldInstances(), 1u);
}

TEST_F(SearchTest, AsksOnlyForWhatIsMissing) {
    Feed(Response({Ptr("Three")}, {Srv("Three", host, 80), Txt("Three", {"a"})}), milliseconds(1));
    Feed(Response({Ptr("Four")}), milliseconds(1));
    QuestionsAt(milliseconds(0));
    EXPECT_TRUE(Resolved(milliseconds(10)).empty());
    auto questions = QuestionsAt(milliseconds(41));
    std::vector<std::pair<std::string, uint16_t>> asked;
    for (const Question& question : questions) {
        if (question.type != RecordType::kPtr) asked.emplace_back(NameKey(question.name), question.type);
    }
    std::sort(asked.begin(), asked.end());
    std::vector<std::pair<std::string, uint16_t>> expected = {
        {NameKey(host), RecordType::kA},
        {NameKey(InstanceName("Four")), RecordType::kTxt},
        {NameKey(InstanceName("Four")), RecordType::kSrv}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked, expected);
    // Asked again later, less often.
    EXPECT_TRUE(QuestionsAt(milliseconds(100)).empty());
    EXPECT_FALSE(QuestionsAt(milliseconds(125)).empty());

    Feed(Response({A(host, 0x0A000001)}), milliseconds(130));
    auto resolved = Resolved(milliseconds(130));
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].name, u"Three");
}

TEST_F(SearchTest, WithoutTxtReportsAnEmptyTextAfterAskingForIt) {
    Feed(Response({Ptr("Bare")}, {Srv("Bare", host, 81), A(host, 0x0A000002)}), milliseconds(1));
    EXPECT_TRUE(Resolved(milliseconds(1)).empty());
    auto questions = QuestionsAt(milliseconds(2));
    ASSERT_FALSE(questions.empty());
    EXPECT_EQ(questions.back().type, RecordType::kTxt);
    EXPECT_TRUE(Resolved(milliseconds(100)).empty());
    auto resolved = Resolved(milliseconds(1) + Search::kTxtGrace);
    ASSERT_EQ(resolved.size(), 1u);
    EXPECT_EQ(resolved[0].txtText, std::string(1, '\0'));
}

TEST_F(SearchTest, AGoodbyeDropsAnInstanceNotYetReported) {
    Feed(Response({Ptr("Gone")}, {Srv("Gone", host, 80), Txt("Gone", {"a"})}), milliseconds(1));
    Feed(Response({Ptr("Gone", 0)}), milliseconds(2));
    EXPECT_EQ(search.HeldInstances(), 0u);
    Feed(Response({A(host, 0x0A000003)}, {Srv("Gone", host, 80), Txt("Gone", {"a"})}), milliseconds(3));
    EXPECT_TRUE(Resolved(milliseconds(400)).empty());
    // An address that is said goodbye to does not resolve anything either.
    Feed(Response({Ptr("Later")}, {Srv("Later", host, 80), Txt("Later", {"a"})}), milliseconds(5));
    Feed(Response({A(host, 0x0A000003, 0)}), milliseconds(6));
    EXPECT_TRUE(Resolved(milliseconds(500)).empty());
}

TEST_F(SearchTest, IgnoresMalformedPacketsQueriesAndOtherServices) {
    auto broken = Response({Ptr("Broken")}, {Srv("Broken", host, 80), A(host, 1)});
    broken.resize(broken.size() - 2);
    Feed(broken, milliseconds(1));
    MessageWriter query(kMaxMessageSize);
    ASSERT_TRUE(query.AddRecord(Section::kAnswer, Ptr("Asked")));
    Feed(query.Bytes(), milliseconds(1));
    ResourceRecord other = Ptr("Printer");
    other.name = {"_ipp", "_tcp", "local"};
    other.ptrTarget = {"Printer", "_ipp", "_tcp", "local"};
    ResourceRecord deep = Ptr("x");
    deep.ptrTarget = {"a", "b", "_http", "_tcp", "local"};
    Feed(Response({other, deep}), milliseconds(1));
    Feed(std::vector<uint8_t>(9001, 0), milliseconds(1));
    Feed({}, milliseconds(1));
    EXPECT_EQ(search.HeldInstances(), 0u);
}

TEST_F(SearchTest, HoldsAtMostTheCapOfInstances) {
    for (size_t base = 0; base < 5000; base += 100) {
        std::vector<ResourceRecord> answers;
        for (size_t i = base; i < base + 100; ++i) answers.push_back(Ptr("Flood " + std::to_string(i)));
        Feed(Response(answers), milliseconds(1));
    }
    EXPECT_EQ(search.HeldInstances(), Search::kMaxInstances);
}

}  // namespace
