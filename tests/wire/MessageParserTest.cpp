#include "mdns/wire/MessageParser.h"

#include <gtest/gtest.h>

#include <string>

#include "Packet.h"

using namespace mdns::wire;

namespace {

ParseError Parse(const Packet& packet, Message& message) {
    ParseError error = ParseError::kNone;
    const bool parsed = ParseMessage(packet.bytes.data(), packet.Size(), message, &error);
    EXPECT_EQ(parsed, error == ParseError::kNone);
    if (!parsed) {
        EXPECT_TRUE(message.questions.empty() && message.answers.empty() &&
                    message.authorities.empty() && message.additionals.empty())
            << "a dropped message left parts behind";
    }
    return error;
}

ParseError Parse(const Packet& packet) {
    Message message;
    return Parse(packet, message);
}

// A response as a responder sends it: PTR answer, SRV, TXT and A in the additional section,
// names compressed against the first (_http._tcp.local at 12, its "local" at 23).
Packet Response() {
    Packet packet;
    packet.Header(1, 1, 0, 3);
    packet.Name({"_http", "_tcp", "local"});  // 12
    packet.U16(12).U16(0x8001);               // QU question
    packet.Pointer(12).Fixed(12, 12, 4500);
    const uint16_t instance = static_cast<uint16_t>(packet.Size());
    packet.Raw("\x09My.Web Sv").Pointer(12);
    packet.Pointer(instance).Fixed(33, 13, 120, 0x8001);
    packet.U16(0).U16(5).U16(8080).Raw("\x04host").Pointer(23);  // host.local
    packet.Pointer(instance).Fixed(16, 17);
    packet.Raw("\x0bpath=/index").Raw(std::string(1, '\0')).Raw("\x03" "a=1");
    packet.Raw("\x04host").Pointer(23).Fixed(1, 4, 0x80000001u, 0x8001).U32(0xC0000201);
    return packet;
}

}  // namespace

TEST(ParseMessage, DecodesAResponseWithCompressedNames) {
    Message message;
    ASSERT_EQ(ParseError::kNone, Parse(Response(), message));
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

TEST(ParseMessage, DropsEveryTruncationOfAValidMessage) {
    const Packet whole = Response();
    for (size_t size = 0; size < whole.Size(); ++size) {
        Packet cut;
        cut.bytes.assign(whole.bytes.begin(), whole.bytes.begin() + size);
        EXPECT_NE(ParseError::kNone, Parse(cut)) << size;
    }
    Packet trailing = whole;
    trailing.Raw("junk");
    EXPECT_EQ(ParseError::kNone, Parse(trailing));
}

TEST(ParseMessage, DropsBadHeaders) {
    EXPECT_EQ(ParseError::kTruncatedHeader, Parse(Packet()));
    Message none;
    EXPECT_FALSE(ParseMessage(nullptr, 12, none));
    Packet eleven;
    eleven.Header(0, 0).bytes.pop_back();
    EXPECT_EQ(ParseError::kTruncatedHeader, Parse(eleven));
    EXPECT_EQ(ParseError::kNone, Parse(Packet().Header(0, 0)));
    EXPECT_EQ(ParseError::kOpcode, Parse(Packet().Header(0, 0, 0, 0, 0x8000 | 0x2000)));
    EXPECT_EQ(ParseError::kRcode, Parse(Packet().Header(0, 0, 0, 0, 0x8003)));
    // Counts the bytes left cannot hold are refused before anything is read or reserved.
    EXPECT_EQ(ParseError::kCountsTooLarge, Parse(Packet().Header(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF)));
    Packet oneMore;
    oneMore.Header(0, 2).Name({}).Fixed(99, 0);
    EXPECT_EQ(ParseError::kCountsTooLarge, Parse(oneMore));
    Packet shortRecords;
    shortRecords.Header(0, 2).Name({"a", "b", "c", "d", "e", "f"}).Fixed(99, 0);
    EXPECT_EQ(ParseError::kTruncated, Parse(shortRecords));
}

TEST(ParseMessage, AcceptsMessagesUpTo9000Bytes) {
    auto sized = [](size_t size) {
        Packet packet;
        packet.Header(0, 1).Name({"big"});
        const size_t rdlength = size - packet.Size() - 10;
        packet.Fixed(99, static_cast<uint16_t>(rdlength)).Raw(std::string(rdlength, 'x'));
        return packet;
    };
    Message message;
    ASSERT_EQ(ParseError::kNone, Parse(sized(kMaxMessageSize), message));
    EXPECT_EQ(kMaxMessageSize - 12 - 5 - 10, message.answers[0].rdata.size());
    EXPECT_EQ(ParseError::kTooLarge, Parse(sized(kMaxMessageSize + 1)));
}

TEST(ParseMessage, DropsRecordDataOfTheWrongSize) {
    auto record = [](uint16_t type, const std::string& data, uint16_t rdlength) {
        Packet packet;
        packet.Header(0, 1).Name({"host", "local"});
        packet.Fixed(type, rdlength).Raw(data);
        return packet;
    };
    auto exact = [&](uint16_t type, const std::string& data) {
        return record(type, data, static_cast<uint16_t>(data.size()));
    };
    EXPECT_EQ(ParseError::kNone, Parse(exact(1, std::string("\xc0\x00\x02\x01", 4))));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(1, std::string("\xc0\x00\x02", 3))));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(1, std::string("\xc0\x00\x02\x01\x05", 5))));

    const std::string srvFixed("\x00\x00\x00\x00\x00\x50", 6);
    EXPECT_EQ(ParseError::kNone, Parse(exact(33, srvFixed + std::string("\x00", 1))));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(33, srvFixed)));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(33, srvFixed.substr(0, 5))));
    // The target runs past the data, into bytes that are still in the packet.
    EXPECT_EQ(ParseError::kRdataSize,
              Parse(record(33, srvFixed + std::string("\x01x\x00", 3), 8)));
    // The target ends before the data does.
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(33, srvFixed + std::string("\x00\x00", 2))));

    EXPECT_EQ(ParseError::kNone, Parse(exact(12, std::string("\xc0\x0c", 2))));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(12, "")));
    EXPECT_EQ(ParseError::kRdataSize, Parse(exact(12, std::string("\xc0\x0c\x00", 3))));
    EXPECT_EQ(ParseError::kRdataSize, Parse(record(12, std::string("\x01x\x00", 3), 2)));
    EXPECT_EQ(ParseError::kBadPointer, Parse(exact(12, std::string("\xc0\x22", 2))));
    EXPECT_EQ(ParseError::kLabelType, Parse(exact(12, std::string("\x40x", 2))));

    EXPECT_EQ(ParseError::kRdataPastEnd, Parse(record(99, "abc", 4)));
    EXPECT_EQ(ParseError::kRdataPastEnd, Parse(record(1, "", 0xFFFF)));
}

TEST(ParseMessage, ReadsTxtStringsOnlyWithinTheirData) {
    auto txt = [](const std::string& data, uint16_t rdlength, const std::string& after = "") {
        Packet packet;
        packet.Header(0, 1).Name({"i", "_http", "_tcp", "local"});
        packet.Fixed(16, rdlength).Raw(data).Raw(after);
        return packet;
    };
    Message message;
    ASSERT_EQ(ParseError::kNone, Parse(txt(std::string("\x00", 1), 1), message));
    EXPECT_EQ(std::vector<std::string>{""}, message.answers[0].txt);
    ASSERT_EQ(ParseError::kNone, Parse(txt("", 0), message));
    EXPECT_TRUE(message.answers[0].txt.empty());
    const std::string nul("\x03" "a\0b", 4);
    ASSERT_EQ(ParseError::kNone, Parse(txt(nul, 4), message));
    EXPECT_EQ(std::vector<std::string>{nul.substr(1)}, message.answers[0].txt);
    const std::string longest = std::string(1, '\xff') + std::string(255, 'v');
    ASSERT_EQ(ParseError::kNone, Parse(txt(longest, 256), message));
    EXPECT_EQ(255u, message.answers[0].txt[0].size());

    EXPECT_EQ(ParseError::kTxtPastEnd, Parse(txt("\x05" "abc", 4)));
    // The string's length reaches into the next record, which is in the packet.
    EXPECT_EQ(ParseError::kTxtPastEnd, Parse(txt("\x02" "a=1\x05" "abcdef", 4, "more bytes")));
    EXPECT_EQ(ParseError::kTxtPastEnd, Parse(txt(std::string("\x01x\x01", 3), 3, "y")));
}

TEST(ParseMessage, OneBadRecordDropsTheWholeMessage) {
    Packet packet = Response();
    packet.bytes[5] = 2;  // one more question than there is
    Message message;
    message.answers.resize(3);
    EXPECT_NE(ParseError::kNone, Parse(packet, message));

    Packet lastBad = Response();
    lastBad.bytes[lastBad.Size() - 5] = 5;  // the A record's rdlength
    EXPECT_NE(ParseError::kNone, Parse(lastBad, message));
}
