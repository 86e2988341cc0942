// The records that searches have heard (RFC 6762 §10), kept for the searches after them: a
// refresh shortly after another hears little, since responders do not repeat a record they
// multicast in the last second. No sockets, no clock and no lock of its own: the caller
// passes the time and serialises the calls.
#ifndef MDNS_SRC_RECORDCACHE_H
#define MDNS_SRC_RECORDCACHE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "mdns/wire/DnsMessage.h"

namespace mdns {

using Clock = std::chrono::steady_clock;

// When a record was heard and how long it lives. A record said goodbye to, or flushed by a
// newer one, is retiring: it is never handed out, and goes one second later (RFC 6762 §10.1,
// §10.2).
struct RecordLife {
    uint32_t ttl = 0;
    Clock::time_point received;
    Clock::time_point expires;
    bool retiring = false;

    bool LiveAt(Clock::time_point now) const { return !retiring && now < expires; }
    uint32_t SecondsLeft(Clock::time_point now) const;
};

class RecordCache {
public:
    // Bounds, like a search's: a flood stops growing the cache here, and what does not fit
    // is left out (a search still uses it for itself).
    static constexpr size_t kMaxPointers = 4096;
    static constexpr size_t kMaxInstances = 4096;  // owners of SRV and TXT records
    static constexpr size_t kMaxHosts = 8192;
    static constexpr size_t kMaxAddressesPerHost = 4;
    static constexpr size_t kMaxTxtBytes = 1 << 20;

    struct Pointer {
        std::string serviceKey;
        wire::Name instance;
        uint32_t interfaceIndex = 0;
        uint64_t order = 0;  // when it first became known, for handing out in that order
        RecordLife life;
    };
    struct Service {
        wire::SrvData srv;
        RecordLife life;
    };
    struct Text {
        std::string txtText;  // the double-zero form of mdns/wire/TxtText.h
        RecordLife life;
    };
    struct Address {
        uint32_t ipv4 = 0;
        RecordLife life;
    };

    // Takes one record of a well-formed response: PTR, SRV, TXT and A of class IN; others
    // are ignored.
    void Add(const wire::ResourceRecord& record, uint32_t interfaceIndex, Clock::time_point now);
    // Drops what has expired.
    void Expire(Clock::time_point now);

    // The live instances of a service (by NameKey), in the order they became known.
    std::vector<const Pointer*> LivePointers(const std::string& serviceKey,
                                             Clock::time_point now) const;
    const Service* LiveService(const std::string& instanceKey, Clock::time_point now) const;
    const Text* LiveText(const std::string& instanceKey, Clock::time_point now) const;
    // The first-heard live address of a host: a multihomed host's others are no better.
    const Address* LiveAddress(const std::string& hostKey, Clock::time_point now) const;

    size_t PointerCount() const { return m_pointers.size(); }
    size_t InstanceCount() const { return m_instances.size(); }
    size_t HostCount() const { return m_hosts.size(); }
    size_t TxtBytes() const { return m_txtBytes; }

private:
    struct InstanceRecords {
        bool hasService = false;
        Service service;
        bool hasText = false;
        Text text;
    };

    void AddPointer(const wire::ResourceRecord& record, uint32_t interfaceIndex,
                    Clock::time_point now);
    void AddInstanceRecord(const wire::ResourceRecord& record, Clock::time_point now);
    void AddAddress(const wire::ResourceRecord& record, Clock::time_point now);
    void DropText(InstanceRecords& records);
    RecordLife Fresh(uint32_t ttl, Clock::time_point now);
    void Retire(RecordLife& life, Clock::time_point now);

    std::unordered_map<std::string, Pointer> m_pointers;  // by service key + instance key
    std::unordered_map<std::string, InstanceRecords> m_instances;
    std::unordered_map<std::string, std::vector<Address>> m_hosts;
    size_t m_txtBytes = 0;
    uint64_t m_nextOrder = 0;
    Clock::time_point m_earliestExpiry = Clock::time_point::max();
};

}  // namespace mdns

#endif
