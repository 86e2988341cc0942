#include "mdns/src/UnicastSearch.h"

#include <algorithm>

#include "mdns/wire/BrowseDomains.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/UnicastMessage.h"
#include "mdns/wire/Utf.h"

namespace mdns {

namespace {

// Over TCP a reply waits behind the others of its connection: it is given longer.
constexpr std::chrono::milliseconds kTcpRetryAfter{400};

std::string LookupKey(const wire::Name& name, uint16_t type) {
    return std::string{static_cast<char>(type >> 8), static_cast<char>(type)} + wire::NameKey(name);
}

std::string Dotted(const wire::Name& name) {
    std::string dotted;
    for (const std::string& label : name) {
        if (!dotted.empty()) dotted.push_back('.');
        dotted.append(label);
    }
    return dotted;
}

}  // namespace

UnicastSearch::UnicastSearch(wire::Name type, std::vector<uint32_t> servers,
                             std::vector<wire::Name> discovery, UnicastCache* cache, uint32_t seed,
                             Clock::time_point now)
    : m_type(std::move(type)), m_servers(std::move(servers)), m_cache(cache), m_random(seed | 1) {
    if (m_servers.empty()) return;
    for (const wire::Name& name : discovery) Ask(name, wire::RecordType::kPtr, Purpose::kBrowseDomains, 0, now);
}

// xorshift32: ids a spoofer cannot read off the last one.
uint16_t UnicastSearch::NextId() {
    for (;;) {
        m_random ^= m_random << 13;
        m_random ^= m_random >> 17;
        m_random ^= m_random << 5;
        const auto id = static_cast<uint16_t>(m_random);
        if (!m_inFlight.count(id)) return id;
    }
}

void UnicastSearch::Ask(const wire::Name& name, uint16_t type, Purpose purpose, size_t domain,
                        Clock::time_point now) {
    if (!m_asked.insert(LookupKey(name, type)).second) return;
    Lookup lookup;
    lookup.name = name;
    lookup.type = type;
    lookup.purpose = purpose;
    lookup.domain = domain;
    std::vector<wire::ResourceRecord> cached;
    if (m_cache && m_cache->Find(name, type, now, cached)) {
        Complete(lookup, cached, now);
        return;
    }
    m_waiting.push_back(std::move(lookup));
}

std::vector<UnicastQuery> UnicastSearch::TakeDueQueries(Clock::time_point now) {
    std::vector<UnicastQuery> queries;
    for (auto entry = m_inFlight.begin(); entry != m_inFlight.end();) {
        if (entry->second.deadline > now) {
            ++entry;
            continue;
        }
        Lookup late = std::move(entry->second);
        entry = m_inFlight.erase(entry);
        Retry(std::move(late), now);
    }
    while (HasWaiting() && m_inFlight.size() < MaxInFlight()) {
        Lookup lookup;
        if (!m_retries.empty()) {
            lookup = std::move(m_retries.back());
            m_retries.pop_back();
        } else {
            lookup = std::move(m_waiting[m_nextWaiting++]);
        }
        Send(lookup, now, queries);
    }
    if (m_nextWaiting == m_waiting.size()) {
        m_waiting.clear();
        m_nextWaiting = 0;
    }
    return queries;
}

void UnicastSearch::Send(Lookup& lookup, Clock::time_point now, std::vector<UnicastQuery>& queries) {
    lookup.id = NextId();
    if (lookup.tries == 0) lookup.firstServer = m_answering;
    lookup.server = m_servers[(lookup.firstServer + static_cast<size_t>(lookup.tries)) % m_servers.size()];
    ++lookup.tries;
    if (m_overTcp.count(lookup.server)) lookup.overTcp = true;
    UnicastQuery query;
    query.server = lookup.server;
    query.overTcp = lookup.overTcp;
    query.bytes = wire::BuildUnicastQuery(lookup.id, lookup.name, lookup.type);
    if (query.bytes.empty()) return;
    lookup.inFlight = true;
    lookup.deadline = now + (lookup.overTcp ? kTcpRetryAfter : kRetryAfter);
    queries.push_back(std::move(query));
    const uint16_t id = lookup.id;
    m_inFlight.emplace(id, std::move(lookup));
}

// Asks again, of the next server, or gives up: a TXT given up leaves its instance without
// TXT strings, anything else leaves the part of the browse that needed it unresolved.
void UnicastSearch::Retry(Lookup lookup, Clock::time_point now) {
    lookup.inFlight = false;
    if (lookup.tries < kMaxTries) {
        m_retries.push_back(std::move(lookup));
        return;
    }
    if (lookup.purpose == Purpose::kText) Complete(lookup, {}, now);
}

void UnicastSearch::OnReply(const uint8_t* data, size_t size, uint32_t server, Clock::time_point now) {
    if (size < 2) return;
    const auto found = m_inFlight.find(static_cast<uint16_t>(data[0] << 8 | data[1]));
    if (found == m_inFlight.end() || found->second.server != server) return;
    const wire::UnicastAnswer answer = wire::ReadUnicastAnswer(
        data, size, found->second.id, found->second.name, found->second.type);
    if (answer.kind == wire::AnswerKind::kNotOurs) return;
    Lookup lookup = std::move(found->second);
    m_inFlight.erase(found);
    // Over TCP nothing is truncated: a server that says so has failed.
    if (answer.kind == wire::AnswerKind::kServerError ||
        (answer.kind == wire::AnswerKind::kTruncated && lookup.overTcp)) {
        Retry(std::move(lookup), now);
        return;
    }
    if (answer.kind == wire::AnswerKind::kTruncated) {
        // Asked again of the same server, over TCP.
        lookup.overTcp = true;
        m_overTcp.insert(lookup.server);
        lookup.tries = std::min(lookup.tries - 1, kMaxTries - 1);
        Retry(std::move(lookup), now);
        return;
    }
    m_answering = (lookup.firstServer + static_cast<size_t>(lookup.tries) - 1) % m_servers.size();
    if (m_cache) m_cache->Put(lookup.name, lookup.type, answer.records, answer.negativeTtl, now);
    Complete(lookup, answer.records, now);
}

void UnicastSearch::Complete(const Lookup& lookup, const std::vector<wire::ResourceRecord>& records,
                             Clock::time_point now) {
    switch (lookup.purpose) {
    case Purpose::kBrowseDomains:
        for (const wire::ResourceRecord& record : records) {
            if (!wire::AddBrowseDomain(m_domains, record.ptrTarget, m_type)) continue;
            wire::Name service = m_type;
            service.insert(service.end(), m_domains.back().begin(), m_domains.back().end());
            Ask(service, wire::RecordType::kPtr, Purpose::kInstances, m_domains.size() - 1, now);
        }
        return;
    case Purpose::kInstances:
        OnInstances(lookup.domain, records, now);
        return;
    case Purpose::kService:
        OnService(wire::NameKey(lookup.name), records, now);
        return;
    case Purpose::kText: {
        auto found = m_instances.find(wire::NameKey(lookup.name));
        if (found == m_instances.end()) return;
        found->second.txtDone = true;
        found->second.txtText = wire::ToTxtText(records.empty() ? std::vector<std::string>{}
                                                                : records.front().txt);
        CheckResolved(found->first);
        return;
    }
    case Purpose::kAddress:
        OnAddresses(lookup.name, records);
        return;
    }
}

void UnicastSearch::OnInstances(size_t domain, const std::vector<wire::ResourceRecord>& records,
                                Clock::time_point now) {
    wire::Name service = m_type;
    service.insert(service.end(), m_domains[domain].begin(), m_domains[domain].end());
    for (const wire::ResourceRecord& record : records) {
        if (!wire::IsInstanceOf(record.ptrTarget, service)) continue;
        const std::string key = wire::NameKey(record.ptrTarget);
        if (m_instances.size() >= kMaxInstances || m_instances.count(key)) continue;
        Instance& instance = m_instances[key];
        instance.name = record.ptrTarget;
        instance.domain = domain;
        Ask(record.ptrTarget, wire::RecordType::kSrv, Purpose::kService, 0, now);
        Ask(record.ptrTarget, wire::RecordType::kTxt, Purpose::kText, 0, now);
    }
}

void UnicastSearch::OnService(const std::string& key, const std::vector<wire::ResourceRecord>& records,
                              Clock::time_point now) {
    auto found = m_instances.find(key);
    if (found == m_instances.end()) return;
    Instance& instance = found->second;
    // Of several SRV records, the first of the lowest priority (RFC 2782).
    const wire::ResourceRecord* chosen = nullptr;
    for (const wire::ResourceRecord& record : records) {
        if (record.type == wire::RecordType::kSrv &&
            (!chosen || record.srv.priority < chosen->srv.priority))
            chosen = &record;
    }
    if (!chosen || instance.hasSrv) return;
    instance.hasSrv = true;
    instance.srv = chosen->srv;
    instance.srvTtl = chosen->ttl;
    const std::string hostKey = wire::NameKey(instance.srv.target);
    if (!m_hosts.count(hostKey) && m_hosts.size() >= 2 * kMaxInstances) return;
    Host& host = m_hosts[hostKey];
    host.instances.push_back(key);
    std::vector<wire::ResourceRecord> addresses;
    for (const wire::ResourceRecord& record : records) {
        if (record.type == wire::RecordType::kA) addresses.push_back(record);
    }
    if (!addresses.empty() && !host.known) {
        if (m_cache) m_cache->Put(instance.srv.target, wire::RecordType::kA, addresses, 0, now);
        OnAddresses(instance.srv.target, addresses);
    }
    if (host.known) {
        CheckResolved(key);
    } else if (!host.asked) {
        host.asked = true;
        Ask(instance.srv.target, wire::RecordType::kA, Purpose::kAddress, 0, now);
    }
}

void UnicastSearch::OnAddresses(const wire::Name& name, const std::vector<wire::ResourceRecord>& records) {
    auto found = m_hosts.find(wire::NameKey(name));
    if (found == m_hosts.end() || found->second.known) return;
    for (const wire::ResourceRecord& record : records) {
        if (record.type != wire::RecordType::kA) continue;
        Host& host = found->second;
        host.known = true;
        host.ipv4 = record.ipv4;
        host.ttl = record.ttl;
        for (const std::string& key : host.instances) CheckResolved(key);
        return;
    }
}

void UnicastSearch::CheckResolved(const std::string& key) {
    auto found = m_instances.find(key);
    if (found == m_instances.end()) return;
    Instance& instance = found->second;
    if (instance.reported || !instance.hasSrv || !instance.txtDone) return;
    auto host = m_hosts.find(wire::NameKey(instance.srv.target));
    if (host == m_hosts.end() || !host->second.known) return;
    UnicastResolved resolved;
    resolved.instance.name = wire::LabelToUtf16(instance.name.front());
    resolved.instance.ipv4 = host->second.ipv4;
    resolved.instance.port = instance.srv.port;
    resolved.instance.txtText = std::move(instance.txtText);
    resolved.instance.ttl = std::min(instance.srvTtl, host->second.ttl);
    resolved.domain = Dotted(m_domains[instance.domain]);
    m_resolved.push_back(std::move(resolved));
    instance.reported = true;
    instance.txtText.clear();
}

std::vector<UnicastResolved> UnicastSearch::TakeResolved() {
    std::vector<UnicastResolved> resolved;
    resolved.swap(m_resolved);
    return resolved;
}

Clock::time_point UnicastSearch::NextWakeup() const {
    Clock::time_point next = Clock::time_point::max();
    if (HasWaiting() && m_inFlight.size() < MaxInFlight()) return Clock::time_point();
    for (const auto& entry : m_inFlight) next = std::min(next, entry.second.deadline);
    return next;
}

size_t UnicastSearch::MaxInFlight() const {
    return m_overTcp.empty() ? kMaxInFlight : kMaxInFlightOverTcp;
}

bool UnicastSearch::Done() const { return !HasWaiting() && m_inFlight.empty(); }

}  // namespace mdns
