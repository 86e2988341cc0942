// One browse of the unicast DNS domains a machine is configured with (RFC 6763 §11): the
// browse domains its domains and networks name, the instances of a service type in each,
// and each instance's SRV, TXT and address, asked of the configured servers. No sockets and
// no clock of its own: the caller sends what it hands back, feeds it the replies and the
// time, and reports what resolved.
#ifndef MDNS_SRC_UNICASTSEARCH_H
#define MDNS_SRC_UNICASTSEARCH_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mdns/src/RecordCache.h"
#include "mdns/src/Search.h"
#include "mdns/src/UnicastCache.h"
#include "mdns/wire/DnsMessage.h"

namespace mdns {

// A query to send: to `server` (IPv4) on port 53, over TCP when `overTcp`.
struct UnicastQuery {
    uint32_t server = 0;
    bool overTcp = false;
    std::vector<uint8_t> bytes;
};

struct UnicastResolved {
    ResolvedInstance instance;
    std::string domain;  // the browse domain it was found in, dotted UTF-8
};

class UnicastSearch {
public:
    static constexpr size_t kMaxInstances = Search::kMaxInstances;
    // Queries awaiting their reply at once: the rest wait their turn. Once a server has
    // been asked over TCP, the queries to it follow on that connection, pipelined (RFC 7766
    // §6.2.1.1), many more at once: under Wine each datagram sent or read is a round trip
    // to its server, while one TCP send and read carry hundreds of queries and replies.
    static constexpr size_t kMaxInFlight = 64;
    static constexpr size_t kMaxInFlightOverTcp = 1024;
    // A query unanswered this long goes to the next server; one that fails this many times
    // is given up (the browse goes on without it).
    static constexpr std::chrono::milliseconds kRetryAfter{150};
    static constexpr int kMaxTries = 3;

    // `type`: the service type's labels (_http, _tcp). `discovery`: the browse-domain names
    // to ask (BrowseDomainQueries). `seed` varies the query ids.
    UnicastSearch(wire::Name type, std::vector<uint32_t> servers, std::vector<wire::Name> discovery,
                  UnicastCache* cache, uint32_t seed, Clock::time_point now);

    std::vector<UnicastQuery> TakeDueQueries(Clock::time_point now);
    // Takes a reply from `server`; anything but the reply to a query in flight to it is
    // ignored.
    void OnReply(const uint8_t* data, size_t size, uint32_t server, Clock::time_point now);
    // Instances that became resolved, each once.
    std::vector<UnicastResolved> TakeResolved();
    Clock::time_point NextWakeup() const;
    // Nothing left to ask or to wait for.
    bool Done() const;

private:
    enum class Purpose { kBrowseDomains, kInstances, kService, kText, kAddress };
    struct Lookup {
        wire::Name name;
        uint16_t type = 0;
        Purpose purpose = Purpose::kBrowseDomains;
        size_t domain = 0;  // for kInstances: index into m_domains
        int tries = 0;
        bool overTcp = false;
        bool inFlight = false;
        uint16_t id = 0;
        size_t firstServer = 0;  // index of the server asked first
        uint32_t server = 0;
        Clock::time_point deadline;
    };
    struct Instance {
        wire::Name name;
        size_t domain = 0;
        bool hasSrv = false;
        wire::SrvData srv;
        uint32_t srvTtl = 0;
        bool txtDone = false;
        std::string txtText;
        bool reported = false;
    };
    struct Host {
        bool asked = false;
        bool known = false;
        uint32_t ipv4 = 0;
        uint32_t ttl = 0;
        std::vector<std::string> instances;  // keys of the instances it serves
    };

    void Ask(const wire::Name& name, uint16_t type, Purpose purpose, size_t domain,
             Clock::time_point now);
    void Send(Lookup& lookup, Clock::time_point now, std::vector<UnicastQuery>& queries);
    void Retry(Lookup lookup, Clock::time_point now);
    void Complete(const Lookup& lookup, const std::vector<wire::ResourceRecord>& records,
                  Clock::time_point now);
    void OnInstances(size_t domain, const std::vector<wire::ResourceRecord>& records,
                     Clock::time_point now);
    void OnService(const std::string& key, const std::vector<wire::ResourceRecord>& records,
                   Clock::time_point now);
    void OnAddresses(const wire::Name& host, const std::vector<wire::ResourceRecord>& records);
    void CheckResolved(const std::string& key);
    uint16_t NextId();
    bool HasWaiting() const { return !m_retries.empty() || m_nextWaiting < m_waiting.size(); }
    size_t MaxInFlight() const;

    wire::Name m_type;
    std::vector<uint32_t> m_servers;
    // The server that answered last: new queries go to it first, so that one silent server
    // costs a wait once per browse, not once per step.
    size_t m_answering = 0;
    std::unordered_set<uint32_t> m_overTcp;  // servers that have truncated a reply
    UnicastCache* m_cache;
    uint32_t m_random;
    std::vector<wire::Name> m_domains;
    // Queries to send: those to ask again first, then the new ones in the order asked.
    std::vector<Lookup> m_retries;
    std::vector<Lookup> m_waiting;
    size_t m_nextWaiting = 0;
    std::unordered_map<uint16_t, Lookup> m_inFlight;  // by query id
    std::unordered_set<std::string> m_asked;          // by type and NameKey
    std::unordered_map<std::string, Instance> m_instances;
    std::unordered_map<std::string, Host> m_hosts;
    std::vector<UnicastResolved> m_resolved;
};

}  // namespace mdns

#endif
