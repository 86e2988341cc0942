#include "mdns/src/Search.h"

#include <algorithm>
#include <unordered_set>

#include "mdns/wire/MessageParser.h"
#include "mdns/wire/MessageWriter.h"
#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/Utf.h"

namespace mdns {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Responders spread one answer over several packets: what is missing right after a PTR
// often comes in the next packet, so an instance is asked about only after this delay.
constexpr milliseconds kResolveDelay{40};
constexpr milliseconds kFirstResolveInterval{80};
constexpr milliseconds kMaxResolveInterval{5000};
// RFC 6762 §5.2: the second query 20-120 ms after the first, then at least a second,
// each interval at least twice the one before, up to an hour.
constexpr milliseconds kSecondQueryMin{20};
constexpr int kSecondQuerySpreadMs = 100;
constexpr seconds kThirdQueryInterval{1};
constexpr seconds kMaxQueryInterval{3600};
// Hosts held at most: targets of the instances held, with room for targets that changed.
constexpr size_t kMaxHosts = 2 * Search::kMaxInstances;

uint32_t SecondsLeft(uint32_t ttl, Clock::time_point received, Clock::time_point now) {
    const auto elapsed = std::chrono::duration_cast<seconds>(now - received).count();
    return elapsed >= ttl ? 0 : static_cast<uint32_t>(ttl - elapsed);
}

}  // namespace

Search::Search(wire::Name service, Clock::time_point start, bool unicastFirst, uint32_t seed)
    : m_service(std::move(service)),
      m_serviceKey(wire::NameKey(m_service)),
      m_unicastNext(unicastFirst),
      m_random(seed == 0 ? 1 : seed),
      m_nextBrowse(start) {}

void Search::OnPacket(const uint8_t* data, size_t size, uint32_t interfaceIndex,
                      Clock::time_point now) {
    wire::Message message;
    if (!wire::ParseMessage(data, size, message)) return;
    if (!(message.header.flags & wire::HeaderFlag::kResponse)) return;

    // PTRs first, then what they name, then the hosts that names point at: a packet may
    // carry them in any order.
    auto forEachRecord = [&message](auto&& visit) {
        for (const wire::ResourceRecord& record : message.answers) visit(record);
        for (const wire::ResourceRecord& record : message.additionals) visit(record);
    };
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.type == wire::RecordType::kPtr && record.rrclass == wire::kClassIn)
            OnPtr(record, interfaceIndex, now);
    });
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.rrclass != wire::kClassIn) return;
        if (record.type != wire::RecordType::kSrv && record.type != wire::RecordType::kTxt) return;
        const std::string key = wire::NameKey(record.name);
        auto found = m_instances.find(key);
        if (found == m_instances.end() || found->second.reported) return;
        if (record.type == wire::RecordType::kSrv)
            OnSrv(key, found->second, record);
        else
            OnTxt(key, found->second, record);
    });
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.type == wire::RecordType::kA && record.rrclass == wire::kClassIn)
            OnAddress(record);
    });
}

void Search::OnPtr(const wire::ResourceRecord& record, uint32_t interfaceIndex,
                   Clock::time_point now) {
    if (wire::NameKey(record.name) != m_serviceKey) return;
    if (!wire::IsInstanceOf(record.ptrTarget, m_service)) return;
    const std::string key = wire::NameKey(record.ptrTarget);
    auto found = m_instances.find(key);
    if (record.ttl == 0) {
        // A goodbye: an instance not reported yet is gone; a reported one stays reported.
        if (found != m_instances.end() && !found->second.reported) m_instances.erase(found);
        return;
    }
    if (found == m_instances.end()) {
        if (m_instances.size() >= kMaxInstances) return;
        Instance& instance = m_instances[key];
        instance.name = record.ptrTarget;
        instance.interfaceIndex = interfaceIndex;
        instance.nextAsk = now + kResolveDelay;
        instance.askInterval = kFirstResolveInterval;
        m_nextResolve = std::min(m_nextResolve, instance.nextAsk);
        found = m_instances.find(key);
    }
    found->second.ptrTtl = record.ttl;
    found->second.ptrReceived = now;
}

void Search::OnSrv(const std::string& key, Instance& instance, const wire::ResourceRecord& record) {
    if (record.ttl == 0) {
        instance.hasSrv = false;
        return;
    }
    instance.hasSrv = true;
    instance.srv = record.srv;
    instance.srvTtl = record.ttl;
    const std::string hostKey = wire::NameKey(record.srv.target);
    if (m_hosts.size() < kMaxHosts || m_hosts.count(hostKey)) m_hosts[hostKey];
    m_touched.push_back(key);
}

void Search::OnTxt(const std::string& key, Instance& instance, const wire::ResourceRecord& record) {
    if (record.ttl == 0) {
        instance.hasTxt = false;
        return;
    }
    instance.hasTxt = true;
    instance.txtText = wire::ToTxtText(record.txt);
    m_touched.push_back(key);
}

void Search::OnAddress(const wire::ResourceRecord& record) {
    auto found = m_hosts.find(wire::NameKey(record.name));
    if (found == m_hosts.end()) return;
    Host& host = found->second;
    if (record.ttl == 0) {
        host.known = false;
        return;
    }
    if (!host.known) m_hostBecameKnown = true;
    // The first address heard stays: a multihomed host's others are no better.
    if (!host.known) host.ipv4 = record.ipv4;
    host.known = true;
    host.ttl = record.ttl;
}

Search::Host* Search::HostOf(const Instance& instance) {
    if (!instance.hasSrv) return nullptr;
    auto found = m_hosts.find(wire::NameKey(instance.srv.target));
    return found == m_hosts.end() ? nullptr : &found->second;
}

std::vector<ResolvedInstance> Search::TakeResolved(Clock::time_point now) {
    std::vector<ResolvedInstance> resolved;
    if (m_hostBecameKnown) {
        m_hostBecameKnown = false;
        m_touched.clear();
        for (auto& [key, instance] : m_instances) {
            if (!instance.reported) m_touched.push_back(key);
        }
    }
    std::vector<std::string> touched;
    touched.swap(m_touched);
    for (const std::string& key : touched) CheckResolved(key, now, resolved);
    while (m_txtWaitsDone < m_txtWaits.size() && m_txtWaits[m_txtWaitsDone].first <= now) {
        CheckResolved(m_txtWaits[m_txtWaitsDone].second, now, resolved);
        ++m_txtWaitsDone;
    }
    if (m_txtWaitsDone == m_txtWaits.size()) {
        m_txtWaits.clear();
        m_txtWaitsDone = 0;
    }
    return resolved;
}

void Search::CheckResolved(const std::string& key, Clock::time_point now,
                           std::vector<ResolvedInstance>& resolved) {
    auto found = m_instances.find(key);
    if (found == m_instances.end() || found->second.reported) return;
    Instance& instance = found->second;
    const Host* host = HostOf(instance);
    if (!host || !host->known) return;
    if (!instance.hasTxt) {
        if (!instance.txtGraceRunning) {
            // Ask for the TXT right away and give it a moment to come.
            instance.txtGraceRunning = true;
            instance.txtGiveUp = now + kTxtGrace;
            instance.nextAsk = now;
            m_nextResolve = now;
            m_txtWaits.emplace_back(instance.txtGiveUp, key);
            return;
        }
        if (now < instance.txtGiveUp) return;
        instance.txtText = wire::ToTxtText({});
    }
    ResolvedInstance item;
    item.name = wire::LabelToUtf16(instance.name.front());
    item.ipv4 = host->ipv4;
    item.port = instance.srv.port;
    item.txtText = std::move(instance.txtText);
    item.ttl = std::min({instance.ptrTtl, instance.srvTtl, host->ttl});
    item.interfaceIndex = instance.interfaceIndex;
    resolved.push_back(std::move(item));
    // Kept, reported, so repeats and copies from other interfaces are recognised.
    instance.reported = true;
    instance.txtText.clear();
    instance.txtText.shrink_to_fit();
}

std::vector<std::vector<uint8_t>> Search::TakeDueQueries(Clock::time_point now) {
    std::vector<std::vector<uint8_t>> packets;
    if (now >= m_nextBrowse) BuildBrowseQuery(now, packets);
    if (now >= m_nextResolve) BuildResolveQuery(now, packets);
    return packets;
}

void Search::BuildBrowseQuery(Clock::time_point now, std::vector<std::vector<uint8_t>>& packets) {
    wire::Question question;
    question.name = m_service;
    question.type = wire::RecordType::kPtr;
    question.unicastResponse = m_unicastNext;
    m_unicastNext = false;
    // Known-answer suppression (RFC 6762 §7.1): the PTRs held with over half their TTL left.
    std::vector<wire::KnownAnswer> known;
    for (const auto& [key, instance] : m_instances) {
        const uint32_t left = SecondsLeft(instance.ptrTtl, instance.ptrReceived, now);
        if (left > instance.ptrTtl / 2) known.push_back({m_service, left, instance.name});
    }
    auto built = wire::BuildQuery({question}, known);
    packets.insert(packets.end(), std::make_move_iterator(built.begin()),
                   std::make_move_iterator(built.end()));

    if (m_browseInterval == Clock::duration::zero()) {
        m_browseInterval = kSecondQueryMin + milliseconds(m_random() % kSecondQuerySpreadMs);
    } else if (m_browseInterval < kThirdQueryInterval) {
        m_browseInterval = kThirdQueryInterval;
    } else {
        m_browseInterval = std::min<Clock::duration>(2 * m_browseInterval, kMaxQueryInterval);
    }
    m_nextBrowse = now + m_browseInterval;
}

void Search::BuildResolveQuery(Clock::time_point now, std::vector<std::vector<uint8_t>>& packets) {
    std::vector<wire::Question> questions;
    std::unordered_set<std::string> askedHosts;
    auto ask = [&questions](const wire::Name& name, uint16_t type) {
        wire::Question question;
        question.name = name;
        question.type = type;
        questions.push_back(std::move(question));
    };
    m_nextResolve = Clock::time_point::max();
    for (auto& [key, instance] : m_instances) {
        if (instance.reported) continue;
        if (instance.nextAsk <= now) {
            if (!instance.hasSrv) ask(instance.name, wire::RecordType::kSrv);
            if (!instance.hasTxt) ask(instance.name, wire::RecordType::kTxt);
            const Host* host = HostOf(instance);
            if (host && !host->known &&
                askedHosts.insert(wire::NameKey(instance.srv.target)).second)
                ask(instance.srv.target, wire::RecordType::kA);
            instance.nextAsk = now + instance.askInterval;
            instance.askInterval =
                std::min<Clock::duration>(2 * instance.askInterval, kMaxResolveInterval);
        }
        m_nextResolve = std::min(m_nextResolve, instance.nextAsk);
    }
    if (questions.empty()) return;
    auto built = wire::BuildQuery(questions, {});
    packets.insert(packets.end(), std::make_move_iterator(built.begin()),
                   std::make_move_iterator(built.end()));
}

Clock::time_point Search::NextWakeup() const {
    Clock::time_point next = std::min(m_nextBrowse, m_nextResolve);
    if (m_txtWaitsDone < m_txtWaits.size())
        next = std::min(next, m_txtWaits[m_txtWaitsDone].first);
    return next;
}

}  // namespace mdns
