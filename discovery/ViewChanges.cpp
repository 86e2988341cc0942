#include "discovery/ViewChanges.h"

void ViewChanges::BeginEnumeration(std::vector<ViewChange>& undelivered) {
    m_enumerating = true;
    Superseded(undelivered);
}

std::vector<ViewChange> ViewChanges::Superseded(std::vector<ViewChange>& untold) {
    // What came or moved, the listing and the live services decide; a departure is told
    // again only for a listed item that is not live.
    std::vector<ViewChange> changes;
    for (const ViewChange& change : untold) {
        if (change.kind != ViewChange::kDelete) continue;
        if (m_enumerating) {
            m_left.insert(change.from.name);
            continue;
        }
        auto shown = m_view.find(change.from.name);
        if (shown == m_view.end() || m_live.count(change.from.name)) continue;
        changes.push_back({ViewChange::kDelete, shown->second, {}});
        m_view.erase(shown);
    }
    untold.clear();
    return changes;
}

std::vector<ViewChange> ViewChanges::EndEnumeration(const std::vector<ServiceState>& listed) {
    m_enumerating = false;
    m_view.clear();
    // A listing that holds one name twice shows it twice; the first is what the view keeps.
    for (const ServiceState& service : listed) m_view.emplace(service.name, service);
    std::vector<ViewChange> changes;
    for (const std::wstring& name : m_left) {
        auto listedItem = m_view.find(name);
        if (listedItem == m_view.end() || m_live.count(name)) continue;
        changes.push_back({ViewChange::kDelete, listedItem->second, {}});
        m_view.erase(listedItem);
    }
    m_left.clear();
    for (const auto& [name, service] : m_live) {
        for (ViewChange& change : Reconcile(service)) changes.push_back(std::move(change));
    }
    return changes;
}

std::vector<ViewChange> ViewChanges::OnResolved(const ServiceState& service) {
    m_live[service.name] = service;
    m_left.erase(service.name);
    if (m_enumerating) return {};
    return Reconcile(service);
}

std::vector<ViewChange> ViewChanges::OnRemoved(const std::wstring& name) {
    m_live.erase(name);
    if (m_enumerating) {
        m_left.insert(name);
        return {};
    }
    auto shown = m_view.find(name);
    if (shown == m_view.end()) return {};
    std::vector<ViewChange> changes{{ViewChange::kDelete, shown->second, {}}};
    m_view.erase(shown);
    return changes;
}

std::vector<ViewChange> ViewChanges::Reconcile(const ServiceState& service) {
    auto shown = m_view.find(service.name);
    if (shown == m_view.end()) {
        m_view.emplace(service.name, service);
        return {{ViewChange::kCreate, {}, service}};
    }
    if (shown->second == service) return {};
    std::vector<ViewChange> changes{{ViewChange::kRename, shown->second, service}};
    shown->second = service;
    return changes;
}
