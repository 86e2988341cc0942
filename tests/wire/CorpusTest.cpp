// The fuzzer's seed corpus as parser cases: every file in fuzz/corpus is a DNS message whose
// name begins with what parsing it must give ("ok" or the reason it is dropped).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
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
}

// A PTR answer, SRV, TXT and A additionals, names compressed as another encoder does; every cut dropped.
TEST(Corpus, ResponseDecodesWithCompressedNamesAndEveryCutIsDropped) {
    const std::vector<uint8_t> whole = Read(kCorpus / "ok-response");
    Message m;
    for (size_t size = 0; size < whole.size(); ++size)
        EXPECT_NE(ParseError::kNone, Parse({whole.begin(), whole.begin() + size}, m)) << size;
    ASSERT_EQ(ParseError::kNone, Parse(whole, m));
    ASSERT_EQ(std::make_tuple(1u, 1u, 3u),
              std::make_tuple(m.questions.size(), m.answers.size(), m.additionals.size()));
    EXPECT_EQ(std::make_tuple(true, kClassIn),
              std::tie(m.questions[0].unicastResponse, m.questions[0].qclass));
    EXPECT_EQ((Name{"My.Web Sv", "_http", "_tcp", "local"}), m.answers[0].ptrTarget);
    EXPECT_EQ((Name{"host", "local"}), m.additionals[0].srv.target);
    EXPECT_EQ((std::vector<std::string>{"path=/index", "", "a=1"}), m.additionals[1].txt);
    EXPECT_EQ(0u, m.additionals[2].ttl) << "a TTL with the top bit set reads as a goodbye";
}
