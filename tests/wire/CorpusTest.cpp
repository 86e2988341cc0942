// The fuzzer's seed corpus as parser cases: every file in fuzz/corpus is a DNS message whose
// name begins with what parsing it must give ("ok" or the reason it is dropped).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mdns/wire/MessageParser.h"

using namespace mdns::wire;

namespace {

const std::filesystem::path kCorpus = CODEC_CORPUS;

const struct {
    const char* prefix;
    ParseError error;
} kOutcomes[] = {
    {"ok-", ParseError::kNone},
    {"too-large-", ParseError::kTooLarge},
    {"truncated-header-", ParseError::kTruncatedHeader},
    {"opcode-", ParseError::kOpcode},
    {"rcode-", ParseError::kRcode},
    {"counts-too-large-", ParseError::kCountsTooLarge},
    {"truncated-", ParseError::kTruncated},
    {"label-type-", ParseError::kLabelType},
    {"name-too-long-", ParseError::kNameTooLong},
    {"bad-pointer-", ParseError::kBadPointer},
    {"rdata-past-end-", ParseError::kRdataPastEnd},
    {"rdata-size-", ParseError::kRdataSize},
    {"txt-past-end-", ParseError::kTxtPastEnd},
};

std::vector<uint8_t> Read(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Parses `bytes`; a dropped message must leave nothing of itself behind.
ParseError Parse(const std::vector<uint8_t>& bytes, Message& message) {
    message.answers.resize(3);
    ParseError error = ParseError::kNone;
    const bool parsed = ParseMessage(bytes.data(), bytes.size(), message, &error);
    EXPECT_EQ(parsed, error == ParseError::kNone);
    if (error != ParseError::kNone) {
        EXPECT_TRUE(message.questions.empty() && message.answers.empty() &&
                    message.authorities.empty() && message.additionals.empty());
    }
    return error;
}

}  // namespace

TEST(Corpus, EveryFileParsesAsItsNameSays) {
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
        const std::string name = entry.path().filename().string();
        const auto outcome = std::find_if(std::begin(kOutcomes), std::end(kOutcomes),
                                          [&](const auto& o) { return name.rfind(o.prefix, 0) == 0; });
        ASSERT_NE(std::end(kOutcomes), outcome) << name << " names no outcome";
        Message message;
        EXPECT_EQ(int(outcome->error), int(Parse(Read(entry.path()), message))) << name;
        ++files;
    }
    EXPECT_GE(files, 50u);
    Message none;
    EXPECT_FALSE(ParseMessage(nullptr, 12, none));
}

TEST(Corpus, EveryCutOfAResponseIsDropped) {
    const std::vector<uint8_t> whole = Read(kCorpus / "ok-response");
    ASSERT_FALSE(whole.empty());
    Message message;
    for (size_t size = 0; size < whole.size(); ++size)
        EXPECT_NE(ParseError::kNone, Parse({whole.begin(), whole.begin() + size}, message)) << size;
}

// PTR answer; SRV, TXT and A in the additional section; names compressed against the first.
TEST(Corpus, ResponseDecodesWithCompressedNames) {
    Message message;
    ASSERT_EQ(ParseError::kNone, Parse(Read(kCorpus / "ok-response"), message));
    EXPECT_EQ(0x8400, message.header.flags);
    ASSERT_EQ(1u, message.questions.size());
    EXPECT_EQ((Name{"_http", "_tcp", "local"}), message.questions[0].name);
    EXPECT_TRUE(message.questions[0].unicastResponse);
    EXPECT_EQ(kClassIn, message.questions[0].qclass);

    ASSERT_EQ(1u, message.answers.size());
    const Name instance{"My.Web Sv", "_http", "_tcp", "local"};
    EXPECT_EQ(RecordType::kPtr, message.answers[0].type);
    EXPECT_EQ(4500u, message.answers[0].ttl);
    EXPECT_FALSE(message.answers[0].cacheFlush);
    EXPECT_EQ(instance, message.answers[0].ptrTarget);

    ASSERT_EQ(3u, message.additionals.size());
    const ResourceRecord& srv = message.additionals[0];
    EXPECT_EQ(instance, srv.name);
    EXPECT_TRUE(srv.cacheFlush);
    EXPECT_EQ(kClassIn, srv.rrclass);
    EXPECT_EQ(5, srv.srv.weight);
    EXPECT_EQ(8080, srv.srv.port);
    EXPECT_EQ((Name{"host", "local"}), srv.srv.target);
    EXPECT_EQ((std::vector<std::string>{"path=/index", "", "a=1"}), message.additionals[1].txt);
    const ResourceRecord& a = message.additionals[2];
    EXPECT_EQ(0xC0000201u, a.ipv4);
    EXPECT_EQ(0u, a.ttl) << "a TTL with the top bit set reads as a goodbye";
    EXPECT_TRUE(a.cacheFlush);
}
