#include "mdns/src/UnicastCache.h"

#include <algorithm>

#include "mdns/wire/Names.h"

namespace mdns {

namespace {

std::string Key(const wire::Name& name, uint16_t type) {
    return std::string{static_cast<char>(type >> 8), static_cast<char>(type)} + wire::NameKey(name);
}

}  // namespace

void UnicastCache::Put(const wire::Name& name, uint16_t type,
                       const std::vector<wire::ResourceRecord>& records, uint32_t negativeTtl,
                       Clock::time_point now) {
    uint32_t ttl = records.empty() ? negativeTtl : kMaxTtl;
    for (const wire::ResourceRecord& record : records) ttl = std::min(ttl, record.ttl);
    ttl = std::min(ttl, kMaxTtl);
    if (ttl == 0) return;
    const std::string key = Key(name, type);
    std::lock_guard<SlimLock> guard(m_lock);
    if (m_entries.size() >= kMaxEntries && !m_entries.count(key)) {
        for (auto entry = m_entries.begin(); entry != m_entries.end();)
            entry = entry->second.expires <= now ? m_entries.erase(entry) : std::next(entry);
        if (m_entries.size() >= kMaxEntries) return;
    }
    m_entries[key] = Entry{records, now, now + std::chrono::seconds(ttl)};
}

bool UnicastCache::Find(const wire::Name& name, uint16_t type, Clock::time_point now,
                        std::vector<wire::ResourceRecord>& records) {
    std::lock_guard<SlimLock> guard(m_lock);
    auto found = m_entries.find(Key(name, type));
    if (found == m_entries.end()) return false;
    if (found->second.expires <= now) {
        m_entries.erase(found);
        return false;
    }
    const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - found->second.received);
    records = found->second.records;
    for (wire::ResourceRecord& record : records)
        record.ttl = record.ttl > age.count() ? static_cast<uint32_t>(record.ttl - age.count()) : 1;
    return true;
}

size_t UnicastCache::Size() {
    std::lock_guard<SlimLock> guard(m_lock);
    return m_entries.size();
}

}  // namespace mdns
