#include "mdns/wire/WireReader.h"

#include <gtest/gtest.h>

#include <string>

#include "Packet.h"

using namespace mdns::wire;

namespace {

// Reads the name at `offset` of a packet whose first 12 bytes stand for the header.
NameError ReadAt(const Packet& packet, size_t offset, Name& name, size_t* end = nullptr,
                 size_t limit = SIZE_MAX) {
    WireReader reader(packet.bytes.data(), packet.Size());
    EXPECT_TRUE(reader.Skip(offset));
    const NameError error = reader.ReadName(name, limit);
    if (end) *end = reader.Offset();
    if (error != NameError::kNone) {
        EXPECT_EQ(offset, reader.Offset()) << "a failed read moved";
    }
    return error;
}

Packet WithHeader() { return Packet().Header(0, 0); }

}  // namespace

TEST(WireReader, KeepsEveryByteOfALabelAndFollowsBackwardPointers) {
    const std::string odd("Caf\xc3\xa9 No. 1\0\xff", 14);
    Packet packet = WithHeader();
    packet.Name({odd, "_http", "_tcp", "local"});  // at 12
    const size_t second = packet.Size();
    packet.Raw(std::string("\x05Other", 6)).Pointer(12 + 15);  // "Other" + "_http._tcp.local"
    const size_t third = packet.Size();
    packet.Pointer(static_cast<uint16_t>(second)).U8(0xAA);

    Name name;
    size_t end = 0;
    ASSERT_EQ(NameError::kNone, ReadAt(packet, 12, name, &end));
    EXPECT_EQ((Name{odd, "_http", "_tcp", "local"}), name);
    EXPECT_EQ(second, end);
    ASSERT_EQ(NameError::kNone, ReadAt(packet, second, name, &end));
    EXPECT_EQ((Name{"Other", "_http", "_tcp", "local"}), name);
    EXPECT_EQ(third, end);
    // Pointer to a name that itself ends in a pointer; the reader resumes after the first.
    ASSERT_EQ(NameError::kNone, ReadAt(packet, third, name, &end));
    EXPECT_EQ((Name{"Other", "_http", "_tcp", "local"}), name);
    EXPECT_EQ(third + 2, end);
    // The root name alone.
    Packet root = WithHeader();
    root.U8(0);
    ASSERT_EQ(NameError::kNone, ReadAt(root, 12, name, &end));
    EXPECT_TRUE(name.empty());
    EXPECT_EQ(13u, end);
}

TEST(WireReader, RejectsPointersThatLoopPointForwardOrLeaveThePacket) {
    Name name;
    Packet self = WithHeader();
    self.Pointer(12);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(self, 12, name));

    Packet selfAfterLabel = WithHeader();
    selfAfterLabel.Raw("\x01" "a").Pointer(12);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(selfAfterLabel, 12, name));

    // 12: "a" -> 16; 16: "b" -> 12: a loop of two, each pointer forward of one run.
    Packet pair = WithHeader();
    pair.Raw("\x01" "a").Pointer(16).Raw("\x01" "b").Pointer(12);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(pair, 12, name));
    EXPECT_EQ(NameError::kBadPointer, ReadAt(pair, 16, name));

    Packet forward = WithHeader();
    forward.Pointer(14).Name({"x"});
    EXPECT_EQ(NameError::kBadPointer, ReadAt(forward, 12, name));

    Packet outside = WithHeader();
    outside.Name({"x"}).Pointer(0x3FFF);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(outside, 15, name));

    Packet intoHeader = WithHeader();
    intoHeader.Pointer(4);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(intoHeader, 12, name));

    // A label that covers a later pointer: jumping back into it must still only go back.
    // 12: len 3 "\xC0\x0C" + 'z', then at 16 a pointer to 13, whose bytes point to 12.
    Packet inside = WithHeader();
    inside.Raw("\x03\xc0\x0cz").Pointer(13);
    EXPECT_EQ(NameError::kBadPointer, ReadAt(inside, 16, name));

    Packet halfPointer = WithHeader();
    halfPointer.Name({"x"}).U8(0xC0);
    EXPECT_EQ(NameError::kTruncated, ReadAt(halfPointer, 15, name));
}

TEST(WireReader, RejectsReservedLabelTypesAndOverlongNames) {
    Name name;
    for (uint8_t type : {0x40, 0x41, 0x7F, 0x80, 0xBF}) {
        Packet packet = WithHeader();
        packet.U8(type).Raw(std::string(0x7F, 'a')).U8(0);
        EXPECT_EQ(NameError::kLabelType, ReadAt(packet, 12, name)) << int(type);
    }
    const std::string label63(63, 'a');
    Packet longest = WithHeader();
    longest.Name({label63, label63, label63, std::string(61, 'b')});  // exactly 255 octets
    ASSERT_EQ(NameError::kNone, ReadAt(longest, 12, name));
    EXPECT_EQ(4u, name.size());

    Packet tooLong = WithHeader();
    tooLong.Name({label63, label63, label63, std::string(62, 'b')});
    EXPECT_EQ(NameError::kNameTooLong, ReadAt(tooLong, 12, name));

    // Short on the wire, too long once the pointer is followed.
    Packet compressed = WithHeader();
    compressed.Name({label63, label63, label63});
    const size_t second = compressed.Size();
    compressed.U8(62).Raw(std::string(62, 'c')).Pointer(12);
    EXPECT_EQ(NameError::kNameTooLong, ReadAt(compressed, second, name));
}

TEST(WireReader, RejectsNamesCutShortByThePacketOrTheLimit) {
    Name name;
    Packet noRoot = WithHeader();
    noRoot.Raw("\x03" "abc");
    EXPECT_EQ(NameError::kTruncated, ReadAt(noRoot, 12, name));
    Packet shortLabel = WithHeader();
    shortLabel.Raw("\x05" "ab");
    EXPECT_EQ(NameError::kTruncated, ReadAt(shortLabel, 12, name));
    Packet empty = WithHeader();
    EXPECT_EQ(NameError::kTruncated, ReadAt(empty, 12, name));

    Packet whole = WithHeader();
    whole.Name({"abc", "def"});
    EXPECT_EQ(NameError::kNone, ReadAt(whole, 12, name, nullptr, whole.Size()));
    for (size_t limit = 12; limit < whole.Size(); ++limit)
        EXPECT_EQ(NameError::kTruncated, ReadAt(whole, 12, name, nullptr, limit)) << limit;

    // Past a pointer the name may lie anywhere before it, whatever the limit.
    Packet pointed = WithHeader();
    pointed.Name({"abc"});
    const size_t pointer = pointed.Size();
    pointed.Pointer(12);
    EXPECT_EQ(NameError::kNone, ReadAt(pointed, pointer, name, nullptr, pointer + 2));
    EXPECT_EQ(Name{"abc"}, name);
}
