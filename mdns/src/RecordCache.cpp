#include "mdns/src/RecordCache.h"

#include <algorithm>

#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"

namespace mdns {

namespace {

constexpr std::chrono::seconds kRetireDelay{1};

}  // namespace

void RecordCache::Retire(RecordLife& life, Clock::time_point now) {
    life.retiring = true;
    life.expires = std::min(life.expires, now + kRetireDelay);
    m_earliestExpiry = std::min(m_earliestExpiry, life.expires);
}

RecordLife RecordCache::Fresh(uint32_t ttl, Clock::time_point now) {
    const RecordLife life{ttl, now, now + std::chrono::seconds(ttl)};
    m_earliestExpiry = std::min(m_earliestExpiry, life.expires);
    return life;
}

uint32_t RecordLife::SecondsLeft(Clock::time_point now) const {
    if (now >= expires) return 0;
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(expires - now).count());
}

void RecordCache::Add(const wire::ResourceRecord& record, uint32_t interfaceIndex,
                      Clock::time_point now) {
    if (record.rrclass != wire::kClassIn) return;
    switch (record.type) {
        case wire::RecordType::kPtr: AddPointer(record, interfaceIndex, now); break;
        case wire::RecordType::kSrv:
        case wire::RecordType::kTxt: AddInstanceRecord(record, now); break;
        case wire::RecordType::kA: AddAddress(record, now); break;
        default: break;
    }
}

void RecordCache::AddPointer(const wire::ResourceRecord& record, uint32_t interfaceIndex,
                             Clock::time_point now) {
    // Only service instance pointers (RFC 6763 §4.1): one label, then the service.
    if (!wire::IsInstanceOf(record.ptrTarget, record.name)) return;
    std::string serviceKey = wire::NameKey(record.name);
    const std::string key = serviceKey + wire::NameKey(record.ptrTarget);
    auto found = m_pointers.find(key);
    if (record.ttl == 0) {
        if (found != m_pointers.end()) Retire(found->second.life, now);
        return;
    }
    if (found == m_pointers.end()) {
        if (m_pointers.size() >= kMaxPointers) Expire(now);
        if (m_pointers.size() >= kMaxPointers) return;
        Pointer pointer;
        pointer.serviceKey = std::move(serviceKey);
        pointer.instance = record.ptrTarget;
        pointer.order = m_nextOrder++;
        found = m_pointers.emplace(key, std::move(pointer)).first;
    }
    found->second.interfaceIndex = interfaceIndex;
    found->second.life = Fresh(record.ttl, now);
}

void RecordCache::AddInstanceRecord(const wire::ResourceRecord& record, Clock::time_point now) {
    const std::string key = wire::NameKey(record.name);
    const bool isService = record.type == wire::RecordType::kSrv;
    auto found = m_instances.find(key);
    if (record.ttl == 0) {
        if (found == m_instances.end()) return;
        if (isService && found->second.hasService) Retire(found->second.service.life, now);
        if (!isService && found->second.hasText) Retire(found->second.text.life, now);
        return;
    }
    if (found == m_instances.end()) {
        if (m_instances.size() >= kMaxInstances) Expire(now);
        if (m_instances.size() >= kMaxInstances) return;
        found = m_instances.emplace(key, InstanceRecords{}).first;
    }
    InstanceRecords& records = found->second;
    // One SRV and one TXT per instance: the latest replaces what was there, which is what
    // the cache-flush bit asks of these unique records.
    if (isService) {
        records.hasService = true;
        records.service.srv = record.srv;
        records.service.life = Fresh(record.ttl, now);
        return;
    }
    std::string text = wire::ToTxtText(record.txt);
    DropText(records);
    if (m_txtBytes + text.size() > kMaxTxtBytes) Expire(now);
    if (m_txtBytes + text.size() <= kMaxTxtBytes) {
        m_txtBytes += text.size();
        records.hasText = true;
        records.text.txtText = std::move(text);
        records.text.life = Fresh(record.ttl, now);
    }
    if (!records.hasService && !records.hasText) m_instances.erase(key);
}

void RecordCache::DropText(InstanceRecords& records) {
    if (!records.hasText) return;
    m_txtBytes -= records.text.txtText.size();
    records.hasText = false;
    records.text = Text{};
}

void RecordCache::AddAddress(const wire::ResourceRecord& record, Clock::time_point now) {
    const std::string key = wire::NameKey(record.name);
    auto found = m_hosts.find(key);
    if (record.ttl == 0) {
        if (found == m_hosts.end()) return;
        for (Address& address : found->second) {
            if (address.ipv4 == record.ipv4) Retire(address.life, now);
        }
        return;
    }
    if (found == m_hosts.end()) {
        if (m_hosts.size() >= kMaxHosts) Expire(now);
        if (m_hosts.size() >= kMaxHosts) return;
        found = m_hosts.emplace(key, std::vector<Address>{}).first;
    }
    std::vector<Address>& addresses = found->second;
    // RFC 6762 §10.2: the flush spares what came within the last second, which may be
    // the rest of the same announcement.
    if (record.cacheFlush) {
        for (Address& address : addresses) {
            if (address.ipv4 != record.ipv4 && address.life.received + kRetireDelay < now)
                Retire(address.life, now);
        }
    }
    for (Address& address : addresses) {
        if (address.ipv4 == record.ipv4) {
            address.life = Fresh(record.ttl, now);
            return;
        }
    }
    Address fresh{record.ipv4, Fresh(record.ttl, now)};
    if (addresses.size() < kMaxAddressesPerHost) {
        addresses.push_back(fresh);
        return;
    }
    auto spent = std::find_if(addresses.begin(), addresses.end(),
                              [now](const Address& address) { return !address.life.LiveAt(now); });
    if (spent != addresses.end()) *spent = fresh;
}

void RecordCache::Expire(Clock::time_point now) {
    // A full cache under a flood is asked to expire with every record: scan only when
    // something can have expired.
    if (now < m_earliestExpiry) return;
    m_earliestExpiry = Clock::time_point::max();
    auto expired = [this, now](const RecordLife& life) {
        if (now >= life.expires) return true;
        m_earliestExpiry = std::min(m_earliestExpiry, life.expires);
        return false;
    };
    for (auto it = m_pointers.begin(); it != m_pointers.end();) {
        it = expired(it->second.life) ? m_pointers.erase(it) : std::next(it);
    }
    for (auto it = m_instances.begin(); it != m_instances.end();) {
        InstanceRecords& records = it->second;
        if (records.hasService && expired(records.service.life)) records.hasService = false;
        if (records.hasText && expired(records.text.life)) DropText(records);
        it = records.hasService || records.hasText ? std::next(it) : m_instances.erase(it);
    }
    for (auto it = m_hosts.begin(); it != m_hosts.end();) {
        auto& addresses = it->second;
        addresses.erase(std::remove_if(addresses.begin(), addresses.end(),
                                       [&](const Address& address) { return expired(address.life); }),
                        addresses.end());
        it = addresses.empty() ? m_hosts.erase(it) : std::next(it);
    }
}

std::vector<const RecordCache::Pointer*> RecordCache::LivePointers(const std::string& serviceKey,
                                                                   Clock::time_point now) const {
    std::vector<const Pointer*> live;
    for (const auto& entry : m_pointers) {
        if (entry.second.serviceKey == serviceKey && entry.second.life.LiveAt(now))
            live.push_back(&entry.second);
    }
    std::sort(live.begin(), live.end(),
              [](const Pointer* a, const Pointer* b) { return a->order < b->order; });
    return live;
}

const RecordCache::Service* RecordCache::LiveService(const std::string& instanceKey,
                                                     Clock::time_point now) const {
    auto found = m_instances.find(instanceKey);
    if (found == m_instances.end() || !found->second.hasService) return nullptr;
    return found->second.service.life.LiveAt(now) ? &found->second.service : nullptr;
}

const RecordCache::Text* RecordCache::LiveText(const std::string& instanceKey,
                                               Clock::time_point now) const {
    auto found = m_instances.find(instanceKey);
    if (found == m_instances.end() || !found->second.hasText) return nullptr;
    return found->second.text.life.LiveAt(now) ? &found->second.text : nullptr;
}

const RecordCache::Address* RecordCache::LiveAddress(const std::string& hostKey,
                                                     Clock::time_point now) const {
    auto found = m_hosts.find(hostKey);
    if (found == m_hosts.end()) return nullptr;
    for (const Address& address : found->second) {
        if (address.life.LiveAt(now)) return &address;
    }
    return nullptr;
}

}  // namespace mdns
