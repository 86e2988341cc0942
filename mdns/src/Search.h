// One service search as multicast DNS runs it (RFC 6762, RFC 6763): which queries to send
// when, and what the responses say. No sockets and no clock of its own: the browser's
// thread feeds it packets and the time, sends what it hands back and reports what resolved.
#ifndef MDNS_SRC_SEARCH_H
#define MDNS_SRC_SEARCH_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mdns/src/RecordCache.h"
#include "mdns/wire/DnsMessage.h"

namespace mdns {

// An instance with everything a caller needs: SRV target's IPv4 address, port, TXT text.
struct ResolvedInstance {
    std::u16string name;  // the instance label as UTF-16
    uint32_t ipv4 = 0;    // 192.0.2.1 is 0xC0000201
    uint16_t port = 0;
    std::string txtText;  // the double-zero form of mdns/wire/TxtText.h
    uint32_t ttl = 0;
    uint32_t interfaceIndex = 0;
};

class Search {
public:
    // Instances held at once per search: a flood of fake instances stops growing here.
    static constexpr size_t kMaxInstances = 4096;
    // How long an instance with SRV and address waits for its TXT before it is reported
    // with an empty TXT text.
    static constexpr std::chrono::milliseconds kTxtGrace{150};

    // `unicastFirst`: ask for unicast replies the first time each question is asked (the QU
    // bit), which a responder answers at once even when it multicast the same records
    // moments ago; asked by multicast, it would hold them back for a second (RFC 6762 §6).
    // `cache`, if any, seeds the search with the live instances it holds and takes every
    // record the search hears; the caller serialises its use across searches. A cached
    // instance is reported, without asking for what is cached, as soon as its responder
    // answers for it; or, if its host has not answered at all, kCacheTrustDelay after the
    // start. A host that answered without it has withdrawn it unheard.
    static constexpr std::chrono::milliseconds kCacheTrustDelay{400};
    Search(wire::Name service, Clock::time_point start, bool unicastFirst,
           RecordCache* cache = nullptr);

    // Takes one received packet from `source` (an IPv4 address as a number); anything but a
    // well-formed response is ignored.
    void OnPacket(const uint8_t* data, size_t size, uint32_t interfaceIndex, Clock::time_point now,
                  uint32_t source = 0);

    // The query packets due at `now` (possibly none).
    std::vector<std::vector<uint8_t>> TakeDueQueries(Clock::time_point now);

    // Instances that became resolved, each once per search, in the order they resolved.
    std::vector<ResolvedInstance> TakeResolved(Clock::time_point now);

    // Follows the instances reported for as long as the search runs (a watch, which calls
    // this once, before the first packet): one whose address, port or TXT text changes is
    // reported again; one that leaves is handed out once by TakeRemoved: a goodbye not
    // taken back within kGoodbyeDelay (RFC 6762 §10.1), a PTR, SRV or host address
    // expired, or left out of its host's whole answer and then silent for kVerifyWait when
    // asked for by name. Only reported instances have their records refreshed, and one
    // that stays unresolved is no longer asked for after a few seconds (what its responder
    // announces later still completes it).
    void Follow();
    static constexpr std::chrono::seconds kGoodbyeDelay{1};
    static constexpr std::chrono::seconds kVerifyWait{1};
    // The names of reported instances that left, as UTF-16 labels; followed searches only.
    std::vector<std::u16string> TakeRemoved(Clock::time_point now);

    // When TakeDueQueries, TakeResolved or TakeRemoved next has something to do.
    Clock::time_point NextWakeup() const;

    size_t HeldInstances() const { return m_instances.size(); }

private:
    // A record held by the search, and how far its refresh (RFC 6762 §5.2) has gone.
    struct Held {
        RecordLife life;
        int refreshesAsked = 0;
    };
    struct Host {
        uint32_t ipv4 = 0;
        bool known = false;
        Held address;
        bool askedBefore = false;
    };
    struct Instance {
        wire::Name name;
        Held ptr;
        bool hasSrv = false;
        wire::SrvData srv;
        Held srvRecord;
        bool hasTxt = false;
        std::string txtText;
        Held txtRecord;
        bool reported = false;
        // Heard from in this search: a cached instance is reported only once its responder
        // has answered for it, so one that left unheard is not.
        bool confirmed = false;
        uint32_t cachedHost = 0;  // the cached address of its host, for a seeded instance
        // Left out of its host's whole answer, so no longer trusted from the cache; and
        // asked for by name once, as its responder may only have held it back.
        bool leftOut = false;
        bool verifyDue = false;
        uint32_t interfaceIndex = 0;
        Clock::time_point nextAsk;
        Clock::duration askInterval{};
        bool askedBefore = false;
        bool txtGraceRunning = false;
        Clock::time_point txtGiveUp;
        // Followed: reported, then changed, and reported again once complete; the browse
        // round it was last heard of in; whether it went along as a known answer in the
        // latest; when it is gone unless heard of.
        bool changed = false;
        uint64_t heardRound = 0;
        bool knownAnswer = false;
        Clock::time_point silentUntil = Clock::time_point::max();
    };

    void Seed(Clock::time_point now);
    void OnPtr(const wire::ResourceRecord& record, uint32_t interfaceIndex, Clock::time_point now);
    void OnSrv(const std::string& key, Instance& instance, const wire::ResourceRecord& record,
               Clock::time_point now);
    void OnTxt(const std::string& key, Instance& instance, const wire::ResourceRecord& record,
               Clock::time_point now);
    void OnAddress(const wire::ResourceRecord& record, Clock::time_point now);
    void VerifyLeftOut(uint32_t host, size_t answers, Clock::time_point now);
    void HoldHost(const wire::Name& target);
    // Followed searches: what may change when an instance leaves or changes.
    void Heard(Instance& instance);
    void Goodbye(RecordLife& life, Clock::time_point now);
    void MarkChanged(const std::string& key, Instance& instance, Clock::time_point now);
    void VerifyFollowed(uint32_t host, Clock::time_point now);
    Host* HostOf(const Instance& instance);
    void CheckResolved(const std::string& key, Clock::time_point now,
                       std::vector<ResolvedInstance>& resolved);
    void BuildBrowseQuery(Clock::time_point now, std::vector<std::vector<uint8_t>>& packets);
    void BuildResolveQuery(Clock::time_point now, std::vector<std::vector<uint8_t>>& packets);

    wire::Name m_service;
    std::string m_serviceKey;
    RecordCache* m_cache;
    const bool m_unicastFirst;
    bool m_unicastNext;
    const Clock::time_point m_start;
    Clock::time_point m_nextBrowse;
    Clock::duration m_browseInterval{};
    Clock::time_point m_nextResolve = Clock::time_point::max();
    std::unordered_map<std::string, Instance> m_instances;  // by NameKey of the instance
    std::unordered_map<std::string, Host> m_hosts;          // by NameKey of the SRV target
    // Instances whose records changed since the last TakeResolved, and whether a host got
    // its address (which may complete any instance on it).
    std::vector<std::string> m_touched;
    bool m_hostBecameKnown = false;
    // Responders heard answering the browse question, by address; and when cached instances
    // that no answer confirmed or left out are trusted.
    std::unordered_set<uint32_t> m_heardFrom;
    Clock::time_point m_trustCached = Clock::time_point::max();
    std::vector<std::string> m_seeded;  // in the order the cache knew them
    // Instances waiting for their TXT, by give-up time (in order: the grace is constant).
    std::vector<std::pair<Clock::time_point, std::string>> m_txtWaits;
    size_t m_txtWaitsDone = 0;
    bool m_follow = false;
    uint64_t m_round = 0;  // browse queries sent
    // No reported instance can have left before this.
    Clock::time_point m_nextExpiry = Clock::time_point::max();
};

}  // namespace mdns

#endif
