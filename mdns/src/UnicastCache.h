// The answers of unicast DNS servers, kept for their TTL while the library is loaded, so
// that a refresh asks the network only for what it does not know (RFC 1035 §7.4; RFC 2308
// for the answers that say there is nothing). Shared by the browsers of the process: it
// takes its own lock.
#ifndef MDNS_SRC_UNICASTCACHE_H
#define MDNS_SRC_UNICASTCACHE_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "mdns/src/RecordCache.h"
#include "mdns/wire/DnsMessage.h"
#include "runtime/SlimLock.h"

namespace mdns {

class UnicastCache {
public:
    // Answers kept at most (a flood stops growing the cache here) and the longest any is
    // kept, whatever TTL it came with.
    static constexpr size_t kMaxEntries = 16384;
    static constexpr uint32_t kMaxTtl = 24 * 3600;

    // Keeps the answer to (name, type): `records` (none: nothing there) for the least TTL
    // among them, or for `negativeTtl` when there are none. An answer of TTL 0 is not kept.
    void Put(const wire::Name& name, uint16_t type, const std::vector<wire::ResourceRecord>& records,
             uint32_t negativeTtl, Clock::time_point now);
    // The live answer to (name, type) into `records`, with each TTL as left now; false when
    // none is kept.
    bool Find(const wire::Name& name, uint16_t type, Clock::time_point now,
              std::vector<wire::ResourceRecord>& records);

    size_t Size();

private:
    struct Entry {
        std::vector<wire::ResourceRecord> records;
        Clock::time_point received;
        Clock::time_point expires;
    };

    SlimLock m_lock;
    std::unordered_map<std::string, Entry> m_entries;  // by type and NameKey
};

}  // namespace mdns

#endif
