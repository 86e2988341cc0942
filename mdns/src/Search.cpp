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
// RFC 6762 §5.2: the second query at least a second after the first, each interval after
// it at least twice the one before, up to an hour. A second query sooner, without the
// answers still on their way as known answers, has every responder multicast its whole set
// again: on a busy network that doubles their work inside the window and pushes the rest
// of the first answer past it, and records multicast once more are held back from the
// next refresh for another second (§6).
constexpr seconds kSecondQueryInterval{1};
constexpr seconds kMaxQueryInterval{3600};
// Hosts held at most: targets of the instances held, with room for targets that changed.
constexpr size_t kMaxHosts = 2 * Search::kMaxInstances;
// RFC 6762 §5.2: a record still wanted is asked for again at 80, 85, 90 and 95% of its TTL.
constexpr int kRefreshPercents[] = {80, 85, 90, 95};
constexpr int kRefreshPoints = 4;
// A responder spreads an answer over packets only when one is full, and a loaded one sends
// the rest well after the first, or only once its records may be multicast again. So only
// an answer whole in its first packet, one with room left, is taken as all its host has:
// what that host left out is asked for by name, and gone if it stays unanswered.
constexpr size_t kLastPacketMax = 1200;
// RFC 6762 §6: a responder multicasts no record again within a second of multicasting it.
// Asked with QU, it may unicast part of its answer at once and multicast the rest (§5.4),
// held back until that second is over, and answer for it by name no sooner; a loaded one
// answers late besides. So an instance heard within the second before the search began
// and missing from its host's answer to it is not taken as left out.
constexpr seconds kMulticastHoldBack{1};

Clock::time_point RefreshPoint(const RecordLife& life, int point) {
    // In milliseconds: in whole seconds the points of a short TTL fall together.
    return life.received + std::chrono::duration_cast<Clock::duration>(
                               milliseconds(int64_t{life.ttl} * 1000) * kRefreshPercents[point] / 100);
}

}  // namespace

Search::Search(wire::Name service, Clock::time_point start, bool unicastFirst, RecordCache* cache)
    : m_service(std::move(service)),
      m_serviceKey(wire::NameKey(m_service)),
      m_cache(cache),
      m_unicastFirst(unicastFirst),
      m_unicastNext(unicastFirst),
      m_start(start),
      m_nextBrowse(start) {
    if (m_cache) Seed(start);
}

// Takes over every live instance of the cache with the records it holds; what is complete
// is reported once its responder answers for it, the rest resolved as if just heard.
void Search::Seed(Clock::time_point now) {
    m_cache->Expire(now);
    for (const RecordCache::Pointer* pointer : m_cache->LivePointers(m_serviceKey, now)) {
        if (m_instances.size() >= kMaxInstances) break;
        const std::string key = wire::NameKey(pointer->instance);
        Instance& instance = m_instances[key];
        instance.name = pointer->instance;
        instance.ptr.life = pointer->life;
        instance.interfaceIndex = pointer->interfaceIndex;
        instance.nextAsk = now;
        instance.askInterval = kFirstResolveInterval;
        if (const RecordCache::Service* service = m_cache->LiveService(key, now)) {
            instance.hasSrv = true;
            instance.srv = service->srv;
            instance.srvRecord.life = service->life;
            HoldHost(service->srv.target);
            auto host = m_hosts.find(wire::NameKey(service->srv.target));
            const RecordCache::Address* address =
                m_cache->LiveAddress(wire::NameKey(service->srv.target), now);
            if (host != m_hosts.end() && address && !host->second.known) {
                host->second.known = true;
                host->second.ipv4 = address->ipv4;
                host->second.address.life = address->life;
            }
            if (host != m_hosts.end() && host->second.known) instance.cachedHost = host->second.ipv4;
        }
        if (const RecordCache::Text* text = m_cache->LiveText(key, now)) {
            instance.hasTxt = true;
            instance.txtText = text->txtText;
            instance.txtRecord.life = text->life;
        }
        m_seeded.push_back(key);
        m_nextResolve = now;
        m_trustCached = now + kCacheTrustDelay;
    }
}

void Search::OnPacket(const uint8_t* data, size_t size, uint32_t interfaceIndex,
                      Clock::time_point now, uint32_t source) {
    wire::Message message;
    if (!wire::ParseMessage(data, size, message)) return;
    if (!(message.header.flags & wire::HeaderFlag::kResponse)) return;

    // PTRs first, then what they name, then the hosts that names point at: a packet may
    // carry them in any order.
    auto forEachRecord = [&message](auto&& visit) {
        for (const wire::ResourceRecord& record : message.answers) visit(record);
        for (const wire::ResourceRecord& record : message.additionals) visit(record);
    };
    if (m_cache) {
        forEachRecord([&](const wire::ResourceRecord& record) {
            m_cache->Add(record, interfaceIndex, now);
        });
    }
    size_t browseAnswers = 0;
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.type != wire::RecordType::kPtr || record.rrclass != wire::kClassIn) return;
        if (wire::NameKey(record.name) == m_serviceKey) ++browseAnswers;
        OnPtr(record, interfaceIndex, now);
    });
    const bool firstFromHost = browseAnswers && source != 0 && m_heardFrom.insert(source).second;
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.rrclass != wire::kClassIn) return;
        if (record.type != wire::RecordType::kSrv && record.type != wire::RecordType::kTxt) return;
        const std::string key = wire::NameKey(record.name);
        auto found = m_instances.find(key);
        if (found == m_instances.end()) return;
        if (record.type == wire::RecordType::kSrv)
            OnSrv(key, found->second, record, now);
        else
            OnTxt(key, found->second, record, now);
    });
    forEachRecord([&](const wire::ResourceRecord& record) {
        if (record.type == wire::RecordType::kA && record.rrclass == wire::kClassIn)
            OnAddress(record, now);
    });
    if (firstFromHost && size <= kLastPacketMax) {
        VerifyLeftOut(source, browseAnswers, now);
        if (m_follow) VerifyFollowed(source, now);
    }
}

void Search::Follow() {
    m_follow = true;
    // The first TakeRemoved looks at every seeded instance's lives.
    m_nextExpiry = Clock::time_point::min();
}

void Search::Heard(Instance& instance) {
    if (!m_follow) return;
    instance.heardRound = m_round;
    instance.silentUntil = Clock::time_point::max();
    m_nextExpiry = std::min(m_nextExpiry, instance.ptr.life.expires);
}

// A followed record said goodbye to lives one more second: its responder may take it back.
void Search::Goodbye(RecordLife& life, Clock::time_point now) {
    life.retiring = true;
    life.expires = std::min(life.expires, now + kGoodbyeDelay);
    m_nextExpiry = std::min(m_nextExpiry, life.expires);
}

void Search::MarkChanged(const std::string& key, Instance& instance, Clock::time_point now) {
    instance.changed = true;
    instance.nextAsk = now + kResolveDelay;
    instance.askInterval = kFirstResolveInterval;
    m_nextResolve = std::min(m_nextResolve, instance.nextAsk);
    m_touched.push_back(key);
}

// The whole answer of a host to this round's browse question left these out, though they
// were not known answers: each is asked for by name, and gone unless heard of in time.
void Search::VerifyFollowed(uint32_t host, Clock::time_point now) {
    for (auto& [key, instance] : m_instances) {
        if (!instance.reported || instance.knownAnswer || instance.heardRound == m_round) continue;
        if (instance.silentUntil != Clock::time_point::max()) continue;
        const Host* owner = HostOf(instance);
        if (!owner || !owner->known || owner->ipv4 != host) continue;
        instance.verifyDue = true;
        instance.silentUntil = now + kVerifyWait;
        m_nextExpiry = std::min(m_nextExpiry, instance.silentUntil);
        m_nextResolve = now;
    }
}

std::vector<std::u16string> Search::TakeRemoved(Clock::time_point now) {
    std::vector<std::u16string> removed;
    if (now < m_nextExpiry) return removed;
    m_nextExpiry = Clock::time_point::max();
    for (auto it = m_instances.begin(); it != m_instances.end();) {
        Instance& instance = it->second;
        const Host* host = HostOf(instance);
        const bool hostLive = host && host->known && now < host->address.life.expires;
        // An instance that changed to a host not resolved yet waits for it.
        const bool gone = now >= instance.ptr.life.expires || now >= instance.silentUntil ||
                          (instance.reported && (!instance.hasSrv || now >= instance.srvRecord.life.expires ||
                                                 (!hostLive && !instance.changed)));
        if (gone) {
            if (instance.reported) removed.push_back(wire::LabelToUtf16(instance.name.front()));
            it = m_instances.erase(it);
            continue;
        }
        m_nextExpiry = std::min({m_nextExpiry, instance.ptr.life.expires, instance.silentUntil});
        if (instance.reported) {
            m_nextExpiry = std::min(m_nextExpiry, instance.srvRecord.life.expires);
            if (hostLive) m_nextExpiry = std::min(m_nextExpiry, host->address.life.expires);
        }
        ++it;
    }
    return removed;
}

void Search::OnPtr(const wire::ResourceRecord& record, uint32_t interfaceIndex,
                   Clock::time_point now) {
    if (wire::NameKey(record.name) != m_serviceKey) return;
    if (!wire::IsInstanceOf(record.ptrTarget, m_service)) return;
    const std::string key = wire::NameKey(record.ptrTarget);
    auto found = m_instances.find(key);
    if (record.ttl == 0) {
        // A goodbye: an instance not reported yet is gone; a reported one stays reported,
        // unless followed.
        if (found == m_instances.end()) return;
        if (!found->second.reported)
            m_instances.erase(found);
        else if (m_follow)
            Goodbye(found->second.ptr.life, now);
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
    found->second.ptr = Held{RecordLife{record.ttl, now, now + seconds(record.ttl)}};
    Heard(found->second);
    if (!found->second.confirmed) {
        found->second.confirmed = true;
        m_touched.push_back(key);
    }
}

void Search::VerifyLeftOut(uint32_t host, size_t answers, Clock::time_point now) {
    // The first packet of an answer spread over several is full; one with room left that
    // carries less than half of what the host had is the end of such an answer, sent late.
    size_t cached = 0;
    for (const std::string& key : m_seeded) {
        auto found = m_instances.find(key);
        if (found != m_instances.end() && found->second.cachedHost == host) ++cached;
    }
    if (2 * answers < cached) return;
    for (const std::string& key : m_seeded) {
        auto found = m_instances.find(key);
        if (found == m_instances.end() || found->second.confirmed) continue;
        Instance& instance = found->second;
        if (instance.cachedHost != host || m_start - instance.ptr.life.received < kMulticastHoldBack)
            continue;
        instance.leftOut = true;
        instance.verifyDue = true;
        instance.nextAsk = now;
        m_nextResolve = now;
    }
}

void Search::HoldHost(const wire::Name& target) {
    const std::string hostKey = wire::NameKey(target);
    if (m_hosts.size() < kMaxHosts || m_hosts.count(hostKey)) m_hosts[hostKey];
}

void Search::OnSrv(const std::string& key, Instance& instance, const wire::ResourceRecord& record,
                   Clock::time_point now) {
    if (record.ttl == 0) {
        if (m_follow && instance.reported)
            Goodbye(instance.srvRecord.life, now);
        else
            instance.hasSrv = false;
        return;
    }
    if (m_follow && instance.reported &&
        (record.srv.port != instance.srv.port ||
         wire::NameKey(record.srv.target) != wire::NameKey(instance.srv.target)))
        MarkChanged(key, instance, now);
    Heard(instance);
    instance.hasSrv = true;
    instance.confirmed = true;
    instance.srv = record.srv;
    instance.srvRecord = Held{RecordLife{record.ttl, now, now + seconds(record.ttl)}};
    HoldHost(record.srv.target);
    if (!instance.reported) m_touched.push_back(key);
}

void Search::OnTxt(const std::string& key, Instance& instance, const wire::ResourceRecord& record,
                   Clock::time_point now) {
    if (record.ttl == 0) {
        // A followed instance keeps the text it was reported with: its PTR says when it goes.
        if (!(m_follow && instance.reported)) instance.hasTxt = false;
        return;
    }
    instance.hasTxt = true;
    instance.confirmed = true;
    instance.txtRecord = Held{RecordLife{record.ttl, now, now + seconds(record.ttl)}};
    if (instance.reported && !m_follow) return;
    std::string text = wire::ToTxtText(record.txt);
    if (instance.reported) {
        if (text == instance.txtText) return;
        MarkChanged(key, instance, now);
    }
    instance.txtText = std::move(text);
    m_touched.push_back(key);
}

void Search::OnAddress(const wire::ResourceRecord& record, Clock::time_point now) {
    auto found = m_hosts.find(wire::NameKey(record.name));
    if (found == m_hosts.end()) return;
    Host& host = found->second;
    if (record.ttl == 0) {
        if (host.ipv4 != record.ipv4) return;
        if (m_follow && host.known)
            Goodbye(host.address.life, now);
        else
            host.known = false;
        return;
    }
    // A followed host that moved: the new address flushes the old one (RFC 6762 §10.2).
    if (m_follow && host.known && host.ipv4 != record.ipv4 &&
        (record.cacheFlush || host.address.life.retiring)) {
        host.ipv4 = record.ipv4;
        for (auto& [key, instance] : m_instances) {
            if (instance.reported && HostOf(instance) == &host) MarkChanged(key, instance, now);
        }
    }
    if (!host.known) {
        // The first address heard stays: a multihomed host's others are no better.
        m_hostBecameKnown = true;
        host.ipv4 = record.ipv4;
        host.known = true;
    }
    if (host.ipv4 == record.ipv4)
        host.address = Held{RecordLife{record.ttl, now, now + seconds(record.ttl)}};
}

Search::Host* Search::HostOf(const Instance& instance) {
    if (!instance.hasSrv) return nullptr;
    auto found = m_hosts.find(wire::NameKey(instance.srv.target));
    return found == m_hosts.end() ? nullptr : &found->second;
}

std::vector<ResolvedInstance> Search::TakeResolved(Clock::time_point now) {
    std::vector<ResolvedInstance> resolved;
    if (now >= m_trustCached) {
        m_trustCached = Clock::time_point::max();
        for (const std::string& key : m_seeded) {
            auto found = m_instances.find(key);
            if (found == m_instances.end()) continue;
            Instance& instance = found->second;
            if (instance.confirmed || instance.cachedHost == 0 || instance.leftOut) continue;
            instance.confirmed = true;
            m_touched.push_back(key);
        }
        m_seeded.clear();
    }
    if (m_hostBecameKnown) {
        m_hostBecameKnown = false;
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
    if (found == m_instances.end()) return;
    Instance& instance = found->second;
    if (instance.reported && !instance.changed) return;
    // What expired while the search waited is missing again; nothing expired is reported.
    // A reported one that expired goes through TakeRemoved.
    if (instance.ptr.life.SecondsLeft(now) == 0) {
        if (!instance.reported) m_instances.erase(found);
        return;
    }
    if (instance.hasSrv && instance.srvRecord.life.SecondsLeft(now) == 0) instance.hasSrv = false;
    if (instance.hasTxt && instance.txtRecord.life.SecondsLeft(now) == 0) instance.hasTxt = false;
    Host* host = HostOf(instance);
    if (host && host->known && host->address.life.SecondsLeft(now) == 0) host->known = false;
    if (!instance.confirmed || !host || !host->known) return;
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
    // A followed instance keeps its text, to tell a change from a repeat.
    item.txtText = m_follow ? instance.txtText : std::move(instance.txtText);
    item.ttl = std::min({instance.ptr.life.SecondsLeft(now), instance.srvRecord.life.SecondsLeft(now),
                         host->address.life.SecondsLeft(now)});
    item.interfaceIndex = instance.interfaceIndex;
    resolved.push_back(std::move(item));
    // Kept, reported, so repeats and copies from other interfaces are recognised.
    instance.reported = true;
    instance.changed = false;
    if (m_follow) {
        m_nextExpiry = std::min({m_nextExpiry, instance.srvRecord.life.expires, host->address.life.expires});
        return;
    }
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
    // Known-answer suppression (RFC 6762 §7.1): the PTRs heard in this search with over half
    // their TTL left. Not those only cached: their responder, about to answer the first
    // query, would hold back the very answer that confirms them.
    std::vector<wire::KnownAnswer> known;
    ++m_round;
    if (m_follow) m_heardFrom.clear();
    for (auto& [key, instance] : m_instances) {
        const uint32_t left = instance.ptr.life.SecondsLeft(now);
        instance.knownAnswer = instance.confirmed && left > instance.ptr.life.ttl / 2;
        if (instance.knownAnswer) known.push_back({m_service, left, instance.name});
    }
    auto built = wire::BuildQuery({question}, known);
    packets.insert(packets.end(), std::make_move_iterator(built.begin()),
                   std::make_move_iterator(built.end()));

    m_browseInterval = m_browseInterval == Clock::duration::zero()
                           ? Clock::duration(kSecondQueryInterval)
                           : std::min<Clock::duration>(2 * m_browseInterval, kMaxQueryInterval);
    m_nextBrowse = now + m_browseInterval;
}

void Search::BuildResolveQuery(Clock::time_point now, std::vector<std::vector<uint8_t>>& packets) {
    std::vector<wire::Question> questions;
    std::unordered_set<std::string> askedHosts;
    auto ask = [&questions](const wire::Name& name, uint16_t type, bool unicast) {
        wire::Question question;
        question.name = name;
        question.type = type;
        question.unicastResponse = unicast;
        questions.push_back(std::move(question));
    };
    // Whether a held record has passed its next refresh point; and when that point comes.
    Clock::time_point next = Clock::time_point::max();
    auto refreshDue = [&](Held& held) {
        bool due = false;
        while (held.refreshesAsked < kRefreshPoints && RefreshPoint(held.life, held.refreshesAsked) <= now) {
            ++held.refreshesAsked;
            due = true;
        }
        if (held.refreshesAsked < kRefreshPoints)
            next = std::min(next, RefreshPoint(held.life, held.refreshesAsked));
        return due && held.life.SecondsLeft(now) > 0;
    };
    for (auto& [key, instance] : m_instances) {
        Host* host = HostOf(instance);
        const bool hostUnknown = host && !host->known;
        const bool resolving = !instance.reported || instance.changed;
        if (resolving && instance.nextAsk <= now) {
            const bool unicast = m_unicastFirst && !instance.askedBefore;
            instance.askedBefore = true;
            if (!instance.hasSrv || instance.verifyDue)
                ask(instance.name, wire::RecordType::kSrv, unicast || instance.verifyDue);
            instance.verifyDue = false;
            if (!instance.hasTxt) ask(instance.name, wire::RecordType::kTxt, unicast);
            if (hostUnknown && askedHosts.insert(wire::NameKey(instance.srv.target)).second) {
                ask(instance.srv.target, wire::RecordType::kA, m_unicastFirst && !host->askedBefore);
                host->askedBefore = true;
            }
            // A followed search runs on: one that stays unresolved is left to what its
            // responder announces.
            instance.nextAsk = m_follow && instance.askInterval >= kMaxResolveInterval
                                   ? Clock::time_point::max()
                                   : now + instance.askInterval;
            instance.askInterval =
                std::min<Clock::duration>(2 * instance.askInterval, kMaxResolveInterval);
        }
        if (resolving) next = std::min(next, instance.nextAsk);
        if (instance.reported && instance.verifyDue) {
            ask(instance.name, wire::RecordType::kSrv, true);
            instance.verifyDue = false;
        }
        if (m_follow && !instance.reported) continue;
        if (m_follow && refreshDue(instance.ptr)) m_nextBrowse = now;
        if (instance.hasSrv && refreshDue(instance.srvRecord)) ask(instance.name, wire::RecordType::kSrv, false);
        if (instance.hasTxt && refreshDue(instance.txtRecord)) ask(instance.name, wire::RecordType::kTxt, false);
        if (host && host->known && refreshDue(host->address) &&
            askedHosts.insert(wire::NameKey(instance.srv.target)).second)
            ask(instance.srv.target, wire::RecordType::kA, false);
    }
    m_nextResolve = next;
    if (questions.empty()) return;
    auto built = wire::BuildQuery(questions, {});
    packets.insert(packets.end(), std::make_move_iterator(built.begin()),
                   std::make_move_iterator(built.end()));
}

Clock::time_point Search::NextWakeup() const {
    Clock::time_point next = std::min({m_nextBrowse, m_nextResolve, m_trustCached, m_nextExpiry});
    if (m_txtWaitsDone < m_txtWaits.size())
        next = std::min(next, m_txtWaits[m_txtWaitsDone].first);
    return next;
}

}  // namespace mdns
