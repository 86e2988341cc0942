// One browser of the library: its callback and context, and while it searches, the thread
// that sends its queries, reads the answers and delivers its events one at a time.
#ifndef MDNS_SRC_BROWSER_H
#define MDNS_SRC_BROWSER_H

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "mdns/include/mDNS.h"
#include "mdns/src/MulticastSocket.h"
#include "mdns/src/RecordCache.h"
#include "mdns/src/Search.h"
#include "runtime/SlimLock.h"
#include "mdns/src/UnicastBrowse.h"
#include "mdns/src/UnicastCache.h"

namespace mdns {

// The records heard by every browser of the process, kept while the library is loaded, and
// the lock that its browsers take around their use of it.
struct SharedCache {
    SlimLock lock;
    RecordCache records;
    UnicastCache unicast;  // locks itself
};

class Browser {
public:
    Browser(DNSBrowserCallBack callback, void* context, DNSBrowserRef handle, SharedCache& cache);
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;
    ~Browser();

    // With kDNSBrowserFlagFollow the search runs as a watch (Search::Follow).
    DNSStatus Start(const wchar_t* type, const wchar_t* domain, DNSFlags flags);
    DNSStatus Stop();
    // Stops and joins the thread; no event is delivered once it returns. Refused
    // (kDNSBadStateErr) on the browser's own thread, from within its callback.
    DNSStatus Shut();
    bool OnOwnThread() const;

private:
    enum class State { kCreated, kSearching, kStopped };

    static DWORD WINAPI ThreadMain(void* browser);
    bool Prepare();
    void Run();
    void Serve();
    // Ends the thread's wait; m_stateLock held.
    void Wake();
    // Delivers a service once, however many ways it was found, and its removal once it
    // left; m_deliveryLock not held.
    void Deliver(uint32_t type, const ResolvedInstance& instance, const std::wstring& domain);
    static void DeliverUnicast(void* browser, const UnicastResolved& resolved);

    const DNSBrowserCallBack m_callback;
    void* const m_context;
    const DNSBrowserRef m_handle;
    SharedCache& m_cache;

    SlimLock m_stateLock;
    State m_state = State::kCreated;
    // Held around every delivery, so that Stop returns only once none is under way.
    SlimLock m_deliveryLock;
    std::atomic<bool> m_stopping{false};
    HANDLE m_thread = nullptr;
    std::atomic<DWORD> m_threadId{0};

    // Handed from Start to the thread, which opens it and then owns it as m_socket.
    std::unique_ptr<MulticastSocket> m_unopened;
    wire::Name m_service;
    Clock::time_point m_start;
    std::unique_ptr<MulticastSocket> m_socket;
    std::unique_ptr<Search> m_search;
    std::wstring m_type;
    std::wstring m_domain;
    // The browse of the configured DNS domains, when asked for; and, per instance label, the
    // address, port and TXT text delivered last, under m_deliveryLock.
    std::unique_ptr<UnicastBrowse> m_unicast;
    std::unordered_map<std::string, std::string> m_delivered;
    bool m_follow = false;
};

}  // namespace mdns

#endif
