// What an open view of the folder is told while services come, go and move: the decisions
// of the folder's watch, without threads, sockets or the shell, so that each one is plain
// to test.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// A service as an item of the view shows it: its name is the item's identity (the folder
// orders and compares items by name), the rest is where it opens.
struct ServiceState {
    std::wstring name;
    uint32_t ipv4 = 0;
    uint16_t port = 0;
    std::wstring path;

    bool operator==(const ServiceState& other) const {
        return name == other.name && ipv4 == other.ipv4 && port == other.port && path == other.path;
    }
    bool operator!=(const ServiceState& other) const { return !(*this == other); }
};

struct ViewChange {
    enum Kind { kCreate, kDelete, kRename };
    Kind kind;
    ServiceState from;  // kDelete, kRename: the item the view has
    ServiceState to;    // kCreate, kRename: the item it gets
};

// Keeps what the view lists and what the watch's browse holds as live. While the view
// enumerates (its first time, or a refresh) nothing is decided: the listing it ends with
// replaces what the view has, and only then does what the browse heard meanwhile count,
// so that the view is never told of an item it already has.
class ViewChanges {
public:
    // The view starts enumerating: changes not yet delivered are taken back, as the
    // listing supersedes them (what was left stays known as left).
    void BeginEnumeration(std::vector<ViewChange>& undelivered);
    // Changes handed out before a listing began, found untold once it has begun (or ended):
    // it supersedes them, and what they said of a service that left still holds. Gives
    // what the view, if its listing is over, must be told instead.
    std::vector<ViewChange> Superseded(std::vector<ViewChange>& untold);
    // The listing that the view now shows; the changes that bring it to what the browse
    // holds: services it missed, services that moved, services that left meanwhile.
    std::vector<ViewChange> EndEnumeration(const std::vector<ServiceState>& listed);
    // A service resolved, for the first time or again with a new address, port or path.
    std::vector<ViewChange> OnResolved(const ServiceState& service);
    // A service that left.
    std::vector<ViewChange> OnRemoved(const std::wstring& name);

private:
    std::vector<ViewChange> Reconcile(const ServiceState& service);

    bool m_enumerating = true;  // until the first listing
    std::map<std::wstring, ServiceState> m_view;
    std::map<std::wstring, ServiceState> m_live;
    // Left while the view enumerated: its listing may still hold them.
    std::set<std::wstring> m_left;
};
