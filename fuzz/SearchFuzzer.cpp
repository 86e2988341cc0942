// Fuzzes the search and its record cache, with no sockets and a made-up clock; a broken
// invariant aborts, so libFuzzer keeps the input. An input is a script of operations:
//   0 a packet (2 bytes: top two bits one of four responders, the rest its length; bytes)
//   1 the clock moves (2 bytes: ms, or with the top bit seconds)   2 a turn of the loop
//   3 the search ends and the next one starts from the cache
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "mdns/src/Search.h"
#include "mdns/wire/DnsWire.h"

using namespace mdns;

namespace {

// Says which invariant broke before aborting.
#define Require(condition) RequireAt(condition, __LINE__)
void RequireAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "search_fuzzer: invariant at line %d broken\n", line);
    std::abort();
}

const wire::Name kService = {"_http", "_tcp", "local"};

// Names as compared on the wire: ASCII case folded. Labels that do not convert one to one
// (bad UTF-8, zero bytes) are left out of the once-per-search check.
bool FoldedName(const std::u16string& name, std::u16string& folded) {
    folded = name;
    for (char16_t& unit : folded) {
        if (unit == 0xFFFD) return false;
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return true;
}

struct Session {
    RecordCache cache;
    Clock::time_point now = Clock::time_point() + std::chrono::hours(1);
    std::unique_ptr<Search> search;
    std::set<std::u16string> reported;
    bool followed = false;  // a watch's search: reports changes and departures

    void StartSearch(bool follow) {
        search = std::make_unique<Search>(kService, now, true, &cache);
        if (follow) search->Follow();
        followed = follow;
        reported.clear();
    }

    void Turn() {
        for (const auto& packet : search->TakeDueQueries(now)) {
            Require(packet.size() <= wire::kDefaultQuerySize);
            wire::Message message;
            Require(wire::ParseMessage(packet.data(), packet.size(), message));
        }
        for (const ResolvedInstance& instance : search->TakeResolved(now)) {
            Require(instance.ttl > 0);  // nothing expired or said goodbye to
            Require(instance.txtText.size() >= 1 && instance.txtText.back() == '\0');
            std::u16string folded;
            if (FoldedName(instance.name, folded)) Require(reported.insert(folded).second || followed);
        }
        // Only what was reported leaves, once.
        for (const std::u16string& name : search->TakeRemoved(now)) {
            std::u16string folded;
            if (FoldedName(name, folded)) Require(reported.erase(folded) == 1);
        }
        Require(search->HeldInstances() <= Search::kMaxInstances);
        Require(search->NextWakeup() > now || search->NextWakeup() == now);
    }

    void CheckBounds() const {
        Require(cache.PointerCount() <= RecordCache::kMaxPointers);
        Require(cache.InstanceCount() <= RecordCache::kMaxInstances);
        Require(cache.HostCount() <= RecordCache::kMaxHosts);
        Require(cache.TxtBytes() <= RecordCache::kMaxTxtBytes);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session session;
    session.StartSearch(size > 0 && (data[0] & 0x80));
    size_t at = 0;
    while (at < size) {
        const uint8_t op = data[at++] % 4;
        if (op >= 2) {
            if (op == 3) session.StartSearch((at & 1) != 0);
            session.Turn();
        } else {
            if (size - at < 2) break;
            const uint16_t value = static_cast<uint16_t>(data[at] << 8 | data[at + 1]);
            at += 2;
            if (op == 0) {
                const size_t length = std::min<size_t>(value & 0x3FFF, size - at);
                session.search->OnPacket(data + at, length, 1, session.now,
                                         0xC0000201 + (value >> 14));
                at += length;
            } else {
                session.now += value & 0x8000 ? std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::seconds(value & 0x7FFF))
                                              : std::chrono::milliseconds(value);
            }
        }
        session.CheckBounds();
    }
    session.Turn();
    return 0;
}
