// Hand-made DNS messages for the codec tests: raw bytes, so a test can write anything,
// well formed or not.
#ifndef TESTS_WIRE_PACKET_H
#define TESTS_WIRE_PACKET_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class Packet {
public:
    Packet& U8(uint8_t value) {
        bytes.push_back(value);
        return *this;
    }
    Packet& U16(uint16_t value) { return U8(static_cast<uint8_t>(value >> 8)).U8(static_cast<uint8_t>(value)); }
    Packet& U32(uint32_t value) { return U16(static_cast<uint16_t>(value >> 16)).U16(static_cast<uint16_t>(value)); }
    Packet& Raw(const std::string& text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    Packet& Header(uint16_t questions, uint16_t answers, uint16_t authorities = 0,
                   uint16_t additionals = 0, uint16_t flags = 0x8400) {
        return U16(0).U16(flags).U16(questions).U16(answers).U16(authorities).U16(additionals);
    }
    // Uncompressed labels and the root.
    Packet& Name(std::initializer_list<std::string> labels) {
        for (const std::string& label : labels) U8(static_cast<uint8_t>(label.size())).Raw(label);
        return U8(0);
    }
    Packet& Pointer(uint16_t offset) { return U16(static_cast<uint16_t>(0xC000 | offset)); }
    // The fixed part of a record after its name.
    Packet& Fixed(uint16_t type, uint16_t rdlength, uint32_t ttl = 120, uint16_t rrclass = 1) {
        return U16(type).U16(rrclass).U32(ttl).U16(rdlength);
    }
    size_t Size() const { return bytes.size(); }

    std::vector<uint8_t> bytes;
};

#endif
