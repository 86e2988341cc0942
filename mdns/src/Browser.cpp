#include "mdns/src/Browser.h"

#include <algorithm>
#include <vector>

#include "mdns/wire/Names.h"
#include "mdns/wire/TxtText.h"
#include "mdns/wire/Utf.h"

namespace mdns {

namespace {

// Labels of a type or domain as given: UTF-16, at most this long.
constexpr size_t kMaxArgumentLength = 255;
// How long questions that came due wait while packets are still being read.
constexpr std::chrono::milliseconds kQueriesHeldAtMost{100};

bool ToName(const wchar_t* text, wire::Name& name) {
    const size_t length = wcsnlen(text, kMaxArgumentLength + 1);
    if (length > kMaxArgumentLength) return false;
    const std::u16string utf16(reinterpret_cast<const char16_t*>(text), length);
    for (const std::string& label : wire::NameFromDotted(wire::Utf16ToUtf8(utf16))) {
        if (label.size() > wire::kMaxLabelLength) return false;
        name.push_back(label);
    }
    return true;
}

}  // namespace

Browser::Browser(DNSBrowserCallBack callback, void* context, DNSBrowserRef handle,
                 SharedCache& cache)
    : m_callback(callback), m_context(context), m_handle(handle), m_cache(cache) {}

Browser::~Browser() { Shut(); }

bool Browser::OnOwnThread() const {
    return m_threadId.load() == GetCurrentThreadId() || (m_unicast && m_unicast->OnOwnThread());
}

DNSStatus Browser::Start(const wchar_t* type, const wchar_t* domain, DNSFlags flags) {
    std::lock_guard<SlimLock> guard(m_stateLock);
    if (m_state != State::kCreated) return kDNSBadStateErr;
    wire::Name serviceType;
    if (!ToName(type, serviceType)) return kDNSBadParamErr;
    wire::Name service = serviceType;
    if (!ToName(domain, service)) return kDNSBadParamErr;
    // A service type is _name._tcp or _name._udp (RFC 6763 §7), in a domain of one label or more.
    if (service.size() < 3) return kDNSBadParamErr;

    // The socket is set up and the cache read on the search's own thread: under Wine each of
    // the socket's dozen calls is a round trip to the server, tens of milliseconds in all on
    // a loaded machine, which the caller (Explorer's thread, in the folder) would wait out
    // before its half-second window even began. Only the interfaces are looked at here, so
    // that a machine without a network is told so at once.
    auto socket = std::make_unique<MulticastSocket>();
    if (!socket->FindInterfaces()) return kDNSNetworkErr;
    m_unopened = std::move(socket);
    m_service = std::move(service);
    m_start = Clock::now();
    m_type = type;
    m_domain = domain;
    m_follow = (flags & kDNSBrowserFlagFollow) != 0;
    // A thread of the system's own, not of the C++ library's, whose start and end take
    // several more round trips to Wine's server: each costs milliseconds on a loaded machine,
    // on the way into and out of the folder's half-second browse.
    m_thread = CreateThread(nullptr, 0, &Browser::ThreadMain, this, 0, nullptr);
    if (!m_thread) {
        m_unopened.reset();
        return kDNSNoMemoryErr;
    }
    m_state = State::kSearching;
    // Beside the link, the DNS domains the machine is configured with; on a thread of its
    // own, which is no loss to the search on the link if it cannot be had.
    if (flags & kDNSBrowserFlagConfiguredDomains) {
        auto unicast = std::make_unique<UnicastBrowse>(std::move(serviceType), m_cache.unicast,
                                                       &Browser::DeliverUnicast, this);
        if (unicast->Start()) m_unicast = std::move(unicast);
    }
    return kDNSNoErr;
}

// The socket's read event wakes the thread too, so that a search needs no event of its own.
void Browser::Wake() {
    if (!m_stopping.exchange(true) && m_socket) WSASetEvent(m_socket->ReadEvent());
    if (m_unicast) m_unicast->Wake();
}

DNSStatus Browser::Stop() {
    {
        std::lock_guard<SlimLock> guard(m_stateLock);
        if (m_state != State::kSearching) return kDNSBadStateErr;
        m_state = State::kStopped;
        Wake();
    }
    // Waits out a delivery under way, unless this is that delivery calling back in.
    if (!OnOwnThread()) std::lock_guard<SlimLock> delivery(m_deliveryLock);
    return kDNSNoErr;
}

DNSStatus Browser::Shut() {
    if (OnOwnThread()) return kDNSBadStateErr;
    HANDLE thread = nullptr;
    {
        std::lock_guard<SlimLock> guard(m_stateLock);
        if (m_state == State::kSearching) m_state = State::kStopped;
        Wake();
        std::swap(thread, m_thread);
    }
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    if (m_unicast) m_unicast->Shut();
    std::lock_guard<SlimLock> guard(m_stateLock);
    m_search.reset();
    m_socket.reset();
    return kDNSNoErr;
}

DWORD WINAPI Browser::ThreadMain(void* browser) {
    static_cast<Browser*>(browser)->Run();
    return 0;
}

// Opens the socket and seeds the search from the cache; false when no socket could be had
// (the interfaces were there a moment ago): the search then ends without an event, as one
// whose network went away.
bool Browser::Prepare() {
    std::unique_ptr<MulticastSocket> socket = std::move(m_unopened);
    if (!socket->Open()) return false;
    // On 5353 each question asks for unicast replies the first time: a responder that
    // multicast its answers moments ago, for a browse just before this one, holds them
    // back otherwise.
    {
        std::lock_guard<SlimLock> cacheGuard(m_cache.lock);
        m_search = std::make_unique<Search>(std::move(m_service), m_start, socket->OnMdnsPort(),
                                            &m_cache.records);
        if (m_follow) m_search->Follow();
    }
    // Published under the state lock, so that a stop from now on wakes the thread through it
    // and one before is seen in m_stopping.
    std::lock_guard<SlimLock> guard(m_stateLock);
    m_socket = std::move(socket);
    return true;
}

void Browser::Run() {
    m_threadId = GetCurrentThreadId();
    try {
        if (Prepare()) Serve();
    } catch (...) {
        // Out of memory on this thread: the search ends; nothing may escape the thread.
    }
    m_threadId = 0;
}

void Browser::Serve() {
    std::vector<uint8_t> buffer;
    const HANDLE readOrWake = m_socket->ReadEvent();
    // Reads the next waiting packet into the search; false when none is waiting.
    auto readOne = [&] {
        size_t size = 0;
        uint32_t interfaceIndex = 0;
        uint32_t source = 0;
        if (!m_socket->Receive(buffer, size, interfaceIndex, source)) return false;
        std::lock_guard<SlimLock> cacheGuard(m_cache.lock);
        m_search->OnPacket(buffer.data(), size, interfaceIndex, Clock::now(), source);
        return true;
    };
    // Under Wine a read, a send, a reset and a wait each cost a round trip to the server,
    // several milliseconds on a loaded machine: a stream of packets is read without waits
    // between, each followed by the events it completed; and the questions that come due
    // meanwhile wait (kQueriesHeldAtMost at most) until no packet is left waiting, as the
    // answers they ask for are often among those packets.
    bool reading = false;  // the last read found a packet: more may be waiting
    Clock::time_point asked;
    while (!m_stopping) {
        const Clock::time_point now = Clock::now();
        const bool holdQueries = reading && now - asked < kQueriesHeldAtMost;
        if (!holdQueries) {
            asked = now;
            for (const auto& packet : m_search->TakeDueQueries(now)) m_socket->SendToAll(packet);
        }
        for (const ResolvedInstance& instance : m_search->TakeResolved(now)) {
            if (m_stopping) break;
            Deliver(kDNSBrowserEventTypeResolved, instance, m_domain);
        }
        for (std::u16string& name : m_search->TakeRemoved(now)) {
            if (m_stopping) break;
            ResolvedInstance removed;
            removed.name = std::move(name);
            removed.txtText = wire::ToTxtText({});
            Deliver(kDNSBrowserEventTypeRemoved, removed, m_domain);
        }
        if (m_stopping) break;
        reading = readOne();
        if (reading || holdQueries) continue;
        // Nothing waiting: rearm the event, and read once more for a packet that came
        // in between, before sleeping until the next packet or the next due step.
        WSAResetEvent(readOrWake);
        // A stop whose wake-up that reset took back is seen here.
        if (m_stopping) break;
        reading = readOne();
        if (reading) continue;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_search->NextWakeup() - Clock::now());
        const DWORD timeout = wait.count() <= 0 ? 0
                              : wait.count() >= INFINITE ? INFINITE - 1
                                                         : static_cast<DWORD>(wait.count());
        if (WaitForSingleObject(readOrWake, timeout) == WAIT_FAILED) break;
    }
}

void Browser::DeliverUnicast(void* browser, const UnicastResolved& resolved) {
    const std::u16string domain = wire::Utf8ToUtf16(resolved.domain);
    static_cast<Browser*>(browser)->Deliver(kDNSBrowserEventTypeResolved, resolved.instance,
                                            std::wstring(domain.begin(), domain.end()));
}

void Browser::Deliver(uint32_t type, const ResolvedInstance& instance,
                      const std::wstring& domain) {
    const std::wstring name(instance.name.begin(), instance.name.end());
    // One item per service: the same instance found on the link and in a DNS domain (a
    // proxy republishing the link) shares its label, address, port and TXT text. What was
    // delivered last is kept per label, so that a followed service that changes, moves
    // back or leaves is still reported.
    std::string label;
    for (char16_t unit : instance.name) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
        label.push_back(static_cast<char>(unit >> 8));
        label.push_back(static_cast<char>(unit));
    }
    const uint32_t ipv4 = instance.ipv4;
    std::string fields{static_cast<char>(ipv4 >> 24), static_cast<char>(ipv4 >> 16),
                       static_cast<char>(ipv4 >> 8), static_cast<char>(ipv4),
                       static_cast<char>(instance.port >> 8), static_cast<char>(instance.port)};
    fields += instance.txtText;
    ResolvedServiceData data{};
    data.name = name.c_str();
    data.type = m_type.c_str();
    data.domain = domain.c_str();
    data.interfaceIndex = instance.interfaceIndex;
    data.txtSize = static_cast<uint32_t>(instance.txtText.size());
    data.ttl = instance.ttl;
    data.address.family = AF_INET;
    data.address.ipv4Address = instance.ipv4;
    data.address.port = instance.port;
    data.txt = instance.txtText.c_str();
    const BrowserEvent event{type, &data};
    std::lock_guard<SlimLock> delivery(m_deliveryLock);
    if (m_stopping) return;
    if (type == kDNSBrowserEventTypeRemoved) {
        m_delivered.erase(label);
    } else {
        std::string& last = m_delivered[label];
        if (last == fields) return;
        last = std::move(fields);
    }
    m_callback(m_context, m_handle, 0, &event);
}

}  // namespace mdns
