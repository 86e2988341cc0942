#include "mdns/wire/WireReader.h"

namespace mdns::wire {

namespace {

constexpr uint8_t kLabelTypeMask = 0xC0;
constexpr uint8_t kPointerType = 0xC0;

}  // namespace

WireReader::WireReader(const uint8_t* message, size_t size) : m_message(message), m_size(size) {}

bool WireReader::ReadU8(uint8_t& value) {
    if (Remaining() < 1) return false;
    value = m_message[m_offset++];
    return true;
}

bool WireReader::ReadU16(uint16_t& value) {
    if (Remaining() < 2) return false;
    value = static_cast<uint16_t>(m_message[m_offset] << 8 | m_message[m_offset + 1]);
    m_offset += 2;
    return true;
}

bool WireReader::ReadU32(uint32_t& value) {
    if (Remaining() < 4) return false;
    value = static_cast<uint32_t>(m_message[m_offset]) << 24 |
            static_cast<uint32_t>(m_message[m_offset + 1]) << 16 |
            static_cast<uint32_t>(m_message[m_offset + 2]) << 8 |
            static_cast<uint32_t>(m_message[m_offset + 3]);
    m_offset += 4;
    return true;
}

bool WireReader::ReadBytes(size_t count, const uint8_t*& bytes) {
    if (Remaining() < count) return false;
    bytes = m_message + m_offset;
    m_offset += count;
    return true;
}

bool WireReader::Skip(size_t count) {
    const uint8_t* skipped = nullptr;
    return ReadBytes(count, skipped);
}

NameError WireReader::ReadName(Name& name, size_t limit) {
    name.clear();
    // The bytes of the name itself end at `limit`; a pointer may lead anywhere before them.
    const size_t end = limit < m_size ? limit : m_size;
    size_t position = m_offset;
    size_t runStart = m_offset;
    size_t resumeAt = 0;  // where the reader goes on after the name, once a pointer is taken
    bool jumped = false;
    size_t wireLength = 1;  // the root label
    for (;;) {
        const size_t available = jumped ? m_size : end;
        if (position >= available) return NameError::kTruncated;
        const uint8_t length = m_message[position];
        const uint8_t labelType = length & kLabelTypeMask;
        if (labelType == kPointerType) {
            if (position + 1 >= available) return NameError::kTruncated;
            const size_t target =
                static_cast<size_t>(length & ~kLabelTypeMask) << 8 | m_message[position + 1];
            if (target < kHeaderSize || target >= runStart) return NameError::kBadPointer;
            if (!jumped) resumeAt = position + 2;
            jumped = true;
            position = target;
            runStart = target;
            continue;
        }
        if (labelType != 0) return NameError::kLabelType;
        if (length == 0) {
            m_offset = jumped ? resumeAt : position + 1;
            return NameError::kNone;
        }
        wireLength += 1 + length;
        if (wireLength > kMaxNameLength) return NameError::kNameTooLong;
        if (available - position - 1 < length) return NameError::kTruncated;
        name.emplace_back(reinterpret_cast<const char*>(m_message + position + 1), length);
        position += 1 + length;
    }
}

}  // namespace mdns::wire
