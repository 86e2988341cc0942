#include "mdns/wire/MessageWriter.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mdns/wire/MessageParser.h"
#include "mdns/wire/Names.h"

using namespace mdns::wire;

namespace {

const Name kService{"_http", "_tcp", "local"};

Message ParseOrFail(const std::vector<uint8_t>& bytes) {
    Message message;
    ParseError error = ParseError::kNone;
    EXPECT_TRUE(ParseMessage(bytes.data(), bytes.size(), message, &error)) << int(error);
    return message;
}

KnownAnswer Known(const std::string& instance, uint32_t ttl = 4500) {
    KnownAnswer answer;
    answer.name = kService;
    answer.ttl = ttl;
    answer.ptrTarget = kService;
    answer.ptrTarget.insert(answer.ptrTarget.begin(), instance);
    return answer;
}

Question Ask(const Name& name, uint16_t type, bool unicast = false) {
    Question question;
    question.name = name;
    question.type = type;
    question.unicastResponse = unicast;
    return question;
}

}  // namespace

TEST(BuildQuery, RoundTripsQuestionsAndKnownAnswersCompressed) {
    const std::vector<Question> questions{Ask(kService, RecordType::kPtr, true),
                                          Ask({"Printer", "_http", "_tcp", "local"},
                                              RecordType::kSrv)};
    const std::vector<KnownAnswer> known{Known("Camera.1"), Known("camera.1", 60)};
    const auto packets = BuildQuery(questions, known);
    ASSERT_EQ(1u, packets.size());
    // Each later name is one label and a pointer, or a pointer alone: 12 + 22 + 14 + 2 * 23.
    EXPECT_EQ(94u, packets[0].size());
    const Message message = ParseOrFail(packets[0]);
    EXPECT_EQ(0, message.header.id);
    EXPECT_EQ(0, message.header.flags);
    ASSERT_EQ(2u, message.questions.size());
    EXPECT_EQ(kService, message.questions[0].name);
    EXPECT_TRUE(message.questions[0].unicastResponse);
    EXPECT_FALSE(message.questions[1].unicastResponse);
    EXPECT_EQ(RecordType::kSrv, message.questions[1].type);
    EXPECT_EQ(questions[1].name, message.questions[1].name);
    ASSERT_EQ(2u, message.answers.size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(RecordType::kPtr, message.answers[i].type);
        EXPECT_EQ(kClassIn, message.answers[i].rrclass);
        EXPECT_FALSE(message.answers[i].cacheFlush);
        EXPECT_EQ(known[i].ttl, message.answers[i].ttl);
        // Names differing only in case are not merged by compression: each reads back as given.
        EXPECT_EQ(known[i].ptrTarget, message.answers[i].ptrTarget);
    }
}

TEST(BuildQuery, SpreadsKnownAnswersOverPacketsWithTheTruncatedBit) {
    std::vector<KnownAnswer> known;
    for (int i = 0; i < 300; ++i) known.push_back(Known("Service number " + std::to_string(i)));
    const auto packets = BuildQuery({Ask(kService, RecordType::kPtr)}, known, 512);
    ASSERT_GT(packets.size(), 5u);
    std::set<std::string> seen;
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_LE(packets[i].size(), 512u);
        const Message message = ParseOrFail(packets[i]);
        EXPECT_EQ(i == 0 ? 1u : 0u, message.questions.size());
        EXPECT_EQ(i + 1 < packets.size(), (message.header.flags & HeaderFlag::kTruncated) != 0);
        EXPECT_FALSE(message.answers.empty());
        for (const ResourceRecord& answer : message.answers) {
            EXPECT_TRUE(IsInstanceOf(answer.ptrTarget, kService));
            EXPECT_TRUE(seen.insert(answer.ptrTarget[0]).second) << "sent twice";
        }
    }
    EXPECT_EQ(known.size(), seen.size());
}

TEST(BuildQuery, SplitsQuestionsWithoutTheTruncatedBitAndLeavesOutWhatFitsNowhere) {
    std::vector<Question> questions;
    for (int i = 0; i < 40; ++i)
        questions.push_back(Ask({"Instance " + std::to_string(i), "_http", "_tcp", "local"},
                                RecordType::kTxt));
    questions.insert(questions.begin() + 3, Ask({std::string(63, 'x'), std::string(63, 'y')}, 1));
    // Unencodable, first and last: one that fits nowhere never leaves an empty packet.
    questions.insert(questions.begin(), Ask({"bad", ""}, RecordType::kA));
    questions.push_back(Ask({"bad", ""}, RecordType::kA));
    KnownAnswer tooLong = Known("z");
    tooLong.ptrTarget = {std::string(63, 'a'), std::string(63, 'b')};
    const auto packets = BuildQuery(questions, {tooLong}, 120);
    ASSERT_GT(packets.size(), 2u);
    size_t asked = 0;
    for (const auto& packet : packets) {
        EXPECT_LE(packet.size(), 120u);
        const Message message = ParseOrFail(packet);
        EXPECT_EQ(0, message.header.flags);
        EXPECT_TRUE(message.answers.empty());
        EXPECT_FALSE(message.questions.empty());
        asked += message.questions.size();
    }
    EXPECT_EQ(40u, asked);
    EXPECT_TRUE(BuildQuery({}, {}).empty());
}

TEST(MessageWriter, RefusesWhatCannotBeEncodedAndTakesBackWhatDidNotFit) {
    MessageWriter writer(100);
    EXPECT_FALSE(writer.AddQuestion(Ask({"a", ""}, 1)));
    EXPECT_FALSE(writer.AddQuestion(Ask({std::string(64, 'a')}, 1)));
    EXPECT_FALSE(writer.AddQuestion(Ask(Name(4, std::string(63, 'a')), 1)));
    EXPECT_EQ(kHeaderSize, writer.Bytes().size());
    // Too big once its data is written: neither its bytes nor its names may stay behind,
    // or a later name would point at bytes that were taken back.
    ResourceRecord large;
    large.name = {"gone", "local"};
    large.type = RecordType::kPtr;
    large.ptrTarget = {std::string(50, 'p'), "gone", "local"};
    large.ptrTarget.insert(large.ptrTarget.begin(), std::string(40, 'q'));
    EXPECT_FALSE(writer.AddRecord(Section::kAnswer, large));
    EXPECT_EQ(kHeaderSize, writer.Bytes().size());
    ResourceRecord small;
    small.name = {"x", "gone", "local"};
    small.type = RecordType::kA;
    small.ipv4 = 0xC0000202;
    ASSERT_TRUE(writer.AddRecord(Section::kAnswer, small));
    EXPECT_FALSE(writer.AddQuestion(Ask(kService, 12))) << "questions come before records";
    const Message message = ParseOrFail(writer.Bytes());
    ASSERT_EQ(1u, message.answers.size());
    EXPECT_EQ(small.name, message.answers[0].name);
    EXPECT_EQ(0xC0000202u, message.answers[0].ipv4);
}

TEST(MessageWriter, WritesEveryRecordKindInSectionOrder) {
    MessageWriter writer(kMaxMessageSize, 7, HeaderFlag::kResponse | HeaderFlag::kAuthoritative);
    const Name instance{"Web", "_http", "_tcp", "local"};
    ResourceRecord ptr;
    ptr.name = kService;
    ptr.type = RecordType::kPtr;
    ptr.ptrTarget = instance;
    ResourceRecord srv;
    srv.name = instance;
    srv.type = RecordType::kSrv;
    srv.cacheFlush = true;
    srv.srv = {1, 2, 8080, {"host", "local"}};
    ResourceRecord txt;
    txt.name = instance;
    txt.type = RecordType::kTxt;
    ResourceRecord aaaa;
    aaaa.name = {"host", "local"};
    aaaa.type = RecordType::kAaaa;
    aaaa.rdata.assign(16, 0x20);
    ASSERT_TRUE(writer.AddRecord(Section::kAnswer, ptr));
    ASSERT_TRUE(writer.AddRecord(Section::kAdditional, srv));
    EXPECT_FALSE(writer.AddRecord(Section::kAuthority, srv));
    ASSERT_TRUE(writer.AddRecord(Section::kAdditional, txt));
    txt.txt = {"path=/", std::string(256, 'x')};
    EXPECT_FALSE(writer.AddRecord(Section::kAdditional, txt));
    txt.txt.back().pop_back();
    ASSERT_TRUE(writer.AddRecord(Section::kAdditional, txt));
    ASSERT_TRUE(writer.AddRecord(Section::kAdditional, aaaa));
    EXPECT_EQ(5u, writer.RecordCount());

    const Message message = ParseOrFail(writer.Bytes());
    EXPECT_EQ(7, message.header.id);
    EXPECT_EQ(HeaderFlag::kResponse | HeaderFlag::kAuthoritative, message.header.flags);
    ASSERT_EQ(1u, message.answers.size());
    EXPECT_EQ(instance, message.answers[0].ptrTarget);
    ASSERT_EQ(4u, message.additionals.size());
    EXPECT_TRUE(message.additionals[0].cacheFlush);
    EXPECT_EQ(8080, message.additionals[0].srv.port);
    EXPECT_EQ((Name{"host", "local"}), message.additionals[0].srv.target);
    EXPECT_EQ(std::vector<std::string>{""}, message.additionals[1].txt)
        << "no strings is sent as the one empty string";
    EXPECT_EQ((std::vector<std::string>{"path=/", std::string(255, 'x')}), message.additionals[2].txt);
    EXPECT_EQ(aaaa.rdata, message.additionals[3].rdata);
}
