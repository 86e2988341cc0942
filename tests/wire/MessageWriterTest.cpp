#include "mdns/wire/MessageWriter.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "mdns/wire/MessageParser.h"
#include "tests/support/WireRecords.h"

using namespace mdns::wire;

namespace {

const Name kService{"_http", "_tcp", "local"};

Name Instance(const std::string& label) { return {label, "_http", "_tcp", "local"}; }

Message ParseOrFail(const std::vector<uint8_t>& bytes) {
    Message message;
    ParseError error = ParseError::kNone;
    EXPECT_TRUE(ParseMessage(bytes.data(), bytes.size(), message, &error)) << int(error);
    return message;
}

}  // namespace

// Every packet fits and parses, and none is empty; each question and known answer that can
// be encoded and fits in a packet goes out once, questions first; a packet carries the
// truncated bit exactly when the next one holds known answers only, and no other flag or id.
TEST(BuildQuery, SpreadsWhatFitsOverPacketsAndLeavesOutWhatFitsNowhere) {
    std::vector<KnownAnswer> many;
    std::vector<Question> questions;
    for (int i = 0; i < 300; ++i) many.push_back({kService, 4500, Instance(std::to_string(i))});
    for (int i = 0; i < 40; ++i)
        questions.push_back({Instance(std::to_string(i)), RecordType::kTxt});
    // In no 120-byte packet; and unencodable, first and last.
    questions.insert(questions.begin() + 3, {{std::string(63, 'x'), std::string(63, 'y')}, 1});
    questions.insert(questions.begin(), {{"bad", ""}, RecordType::kA});
    questions.push_back({{"bad", ""}, RecordType::kA});
    const KnownAnswer tooLong{kService, 4500, {std::string(63, 'a'), std::string(63, 'b')}};
    using Row = std::tuple<std::vector<Question>, std::vector<KnownAnswer>, size_t, size_t, size_t>;
    for (const auto& [asking, known, maxSize, asked, answered] : std::vector<Row>{
             {{{kService, RecordType::kPtr}}, many, 512, 1, 300},
             {questions, {tooLong}, 120, 40, 0},
             {{}, {}, kDefaultQuerySize, 0, 0}}) {
        const auto packets = BuildQuery(asking, known, maxSize);
        std::vector<Message> messages;
        for (const auto& packet : packets) {
            EXPECT_LE(packet.size(), maxSize);
            messages.push_back(ParseOrFail(packet));
        }
        size_t questionsSeen = 0;
        std::set<std::string> instancesSeen;
        for (size_t i = 0; i < messages.size(); ++i) {
            const Message& m = messages[i];
            EXPECT_FALSE(m.questions.empty() && m.answers.empty()) << "an empty packet";
            EXPECT_TRUE(m.questions.empty() || instancesSeen.empty()) << "asked after answers";
            const bool answersFollow = i + 1 < messages.size() && messages[i + 1].questions.empty();
            EXPECT_EQ(std::make_tuple(0, answersFollow ? HeaderFlag::kTruncated : 0),
                      std::tie(m.header.id, m.header.flags)) << i;
            questionsSeen += m.questions.size();
            for (const ResourceRecord& answer : m.answers) {
                EXPECT_TRUE(instancesSeen.insert(answer.ptrTarget[0]).second) << "sent twice";
                EXPECT_EQ(std::make_tuple(kService, kClassIn, false, 4500u),
                          std::tie(answer.name, answer.rrclass, answer.cacheFlush, answer.ttl));
            }
        }
        EXPECT_EQ(std::tie(asked, answered), std::make_tuple(questionsSeen, instancesSeen.size()));
    }
}

// TXT records, written by tests only: no strings go as one empty string; 255 bytes fit.
TEST(MessageWriter, WritesTxtStringsAsTheyReadBack) {
    for (const std::vector<std::string>& strings :
         {std::vector<std::string>{}, {"path=/", std::string(255, 'x')}}) {
        MessageWriter writer(kMaxMessageSize);
        ResourceRecord txt = Record(Instance("W"), RecordType::kTxt, 120);
        txt.txt = strings;
        ASSERT_TRUE(writer.AddRecord(Section::kAnswer, txt)) << strings.size();
        const Message message = ParseOrFail(writer.Bytes());
        ASSERT_EQ(1u, message.answers.size());
        EXPECT_EQ(strings.empty() ? std::vector<std::string>{""} : strings, message.answers[0].txt);
    }
}
