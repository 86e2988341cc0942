#include "mdns/src/UnicastBrowse.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "mdns/src/DnsConfiguration.h"
#include "mdns/wire/BrowseDomains.h"
#include "mdns/wire/UnicastMessage.h"

namespace mdns {

namespace {

constexpr uint16_t kDnsPort = 53;
// Reads at most per turn: a flood cannot hold the thread in its reads.
constexpr int kMaxReadsPerTurn = 256;
constexpr size_t kReadSize = wire::kMaxTcpMessageSize + 2;

sockaddr_in ServerAddress(uint32_t server) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kDnsPort);
    address.sin_addr.s_addr = htonl(server);
    return address;
}

}  // namespace

UnicastBrowse::UnicastBrowse(wire::Name type, UnicastCache& cache, Deliver deliver, void* context)
    : m_type(std::move(type)), m_cache(cache), m_deliver(deliver), m_context(context) {}

UnicastBrowse::~UnicastBrowse() {
    Shut();
    if (m_wake) CloseHandle(m_wake);
}

bool UnicastBrowse::Start() {
    m_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_wake) return false;
    m_thread = CreateThread(nullptr, 0, &UnicastBrowse::ThreadMain, this, 0, nullptr);
    return m_thread != nullptr;
}

void UnicastBrowse::Wake() {
    m_stopping = true;
    if (m_wake) SetEvent(m_wake);
}

void UnicastBrowse::Shut() {
    Wake();
    if (!m_thread) return;
    WaitForSingleObject(m_thread, INFINITE);
    CloseHandle(m_thread);
    m_thread = nullptr;
}

DWORD WINAPI UnicastBrowse::ThreadMain(void* browse) {
    auto* self = static_cast<UnicastBrowse*>(browse);
    self->m_threadId = GetCurrentThreadId();
    try {
        self->Run();
    } catch (...) {
        // Out of memory on this thread: the unicast browse ends; nothing may escape it.
    }
    for (TcpLink& link : self->m_links) self->Close(link);
    self->m_threadId = 0;
    return 0;
}

void UnicastBrowse::Run() {
    const DnsConfiguration configuration = CurrentDnsConfiguration();
    std::vector<wire::Name> discovery =
        wire::BrowseDomainQueries(configuration.domains, configuration.networks);
    if (configuration.servers.empty() || discovery.empty() || m_stopping) return;
    const SOCKET udp = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (udp == INVALID_SOCKET) return;
    WSAEVENT udpEvent = WSACreateEvent();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (udpEvent != WSA_INVALID_EVENT && bind(udp, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 &&
        WSAEventSelect(udp, udpEvent, FD_READ) == 0) {
        UnicastSearch search(m_type, configuration.servers, std::move(discovery), &m_cache,
                             GetTickCount() ^ GetCurrentThreadId() << 16, Clock::now());
        m_buffer.resize(kReadSize);
        Serve(search, udp, udpEvent);
    }
    closesocket(udp);
    if (udpEvent != WSA_INVALID_EVENT) WSACloseEvent(udpEvent);
}

void UnicastBrowse::Serve(UnicastSearch& search, SOCKET udp, WSAEVENT udpEvent) {
    while (!m_stopping) {
        for (const UnicastQuery& query : search.TakeDueQueries(Clock::now())) {
            if (!query.overTcp) {
                const sockaddr_in to = ServerAddress(query.server);
                sendto(udp, reinterpret_cast<const char*>(query.bytes.data()),
                       static_cast<int>(query.bytes.size()), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
                continue;
            }
            TcpLink* link = LinkTo(query.server);
            if (!link) continue;
            link->out.push_back(static_cast<uint8_t>(query.bytes.size() >> 8));
            link->out.push_back(static_cast<uint8_t>(query.bytes.size()));
            link->out.insert(link->out.end(), query.bytes.begin(), query.bytes.end());
            Flush(*link);
        }
        for (const UnicastResolved& resolved : search.TakeResolved()) {
            if (m_stopping) return;
            m_deliver(m_context, resolved);
        }
        if (search.Done()) return;
        std::vector<WSAEVENT> events{m_wake, udpEvent};
        for (const TcpLink& link : m_links) events.push_back(link.event);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            search.NextWakeup() - Clock::now());
        const DWORD timeout = wait.count() <= 0 ? 0
                              : wait.count() >= INFINITE ? INFINITE - 1
                                                         : static_cast<DWORD>(wait.count());
        if (WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                     timeout, FALSE) == WSA_WAIT_FAILED)
            return;
        if (m_stopping) return;
        WSAResetEvent(udpEvent);
        ReadUdp(search, udp);
        for (TcpLink& link : m_links) ServeLink(search, link);
        m_links.erase(std::remove_if(m_links.begin(), m_links.end(),
                                     [](const TcpLink& link) { return link.socket == INVALID_SOCKET; }),
                      m_links.end());
    }
}

void UnicastBrowse::ReadUdp(UnicastSearch& search, SOCKET udp) {
    for (int reads = 0; reads < kMaxReadsPerTurn; ++reads) {
        sockaddr_in from{};
        int fromSize = sizeof from;
        const int size = recvfrom(udp, reinterpret_cast<char*>(m_buffer.data()),
                                  static_cast<int>(m_buffer.size()), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size == SOCKET_ERROR) {
            // A datagram larger than the buffer, or an ICMP error of an earlier send: skip it.
            const int error = WSAGetLastError();
            if (error == WSAEMSGSIZE || error == WSAECONNRESET) continue;
            return;
        }
        if (from.sin_family != AF_INET || ntohs(from.sin_port) != kDnsPort) continue;
        search.OnReply(m_buffer.data(), static_cast<size_t>(size), ntohl(from.sin_addr.s_addr),
                       Clock::now());
    }
}

UnicastBrowse::TcpLink* UnicastBrowse::LinkTo(uint32_t server) {
    for (TcpLink& link : m_links) {
        if (link.server == server) return &link;
    }
    TcpLink link;
    link.server = server;
    link.socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    link.event = WSACreateEvent();
    if (link.socket == INVALID_SOCKET || link.event == WSA_INVALID_EVENT ||
        WSAEventSelect(link.socket, link.event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        Close(link);
        return nullptr;
    }
    const sockaddr_in to = ServerAddress(server);
    if (connect(link.socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        Close(link);
        return nullptr;
    }
    m_links.push_back(std::move(link));
    return &m_links.back();
}

void UnicastBrowse::Flush(TcpLink& link) {
    while (link.connected && !link.out.empty()) {
        const int sent = send(link.socket, reinterpret_cast<const char*>(link.out.data()),
                              static_cast<int>(std::min<size_t>(link.out.size(), kReadSize)), 0);
        if (sent <= 0) return;  // WSAEWOULDBLOCK: FD_WRITE says when to go on
        link.out.erase(link.out.begin(), link.out.begin() + sent);
    }
}

void UnicastBrowse::ServeLink(UnicastSearch& search, TcpLink& link) {
    WSANETWORKEVENTS happened{};
    if (WSAEnumNetworkEvents(link.socket, link.event, &happened) != 0) {
        Close(link);
        return;
    }
    if (happened.lNetworkEvents & FD_CONNECT) {
        if (happened.iErrorCode[FD_CONNECT_BIT] != 0) {
            Close(link);
            return;
        }
        link.connected = true;
    }
    Flush(link);
    if (happened.lNetworkEvents & (FD_READ | FD_CLOSE)) {
        // Bounded like the datagrams: a server that streams without end cannot hold the
        // thread past a stop.
        for (int reads = 0; reads < kMaxReadsPerTurn && !m_stopping; ++reads) {
            const int size = recv(link.socket, reinterpret_cast<char*>(m_buffer.data()),
                                  static_cast<int>(m_buffer.size()), 0);
            if (size <= 0) break;
            link.in.insert(link.in.end(), m_buffer.begin(), m_buffer.begin() + size);
            // Each reply is two length bytes and the message.
            size_t taken = 0;
            while (link.in.size() - taken >= 2) {
                const size_t length = size_t{link.in[taken]} << 8 | link.in[taken + 1];
                if (link.in.size() - taken - 2 < length) break;
                search.OnReply(link.in.data() + taken + 2, length, link.server, Clock::now());
                taken += 2 + length;
            }
            link.in.erase(link.in.begin(), link.in.begin() + static_cast<std::ptrdiff_t>(taken));
        }
    }
    if (happened.lNetworkEvents & FD_CLOSE) Close(link);
}

void UnicastBrowse::Close(TcpLink& link) {
    if (link.socket != INVALID_SOCKET) closesocket(link.socket);
    if (link.event != WSA_INVALID_EVENT) WSACloseEvent(link.event);
    link.socket = INVALID_SOCKET;
    link.event = WSA_INVALID_EVENT;
}

}  // namespace mdns
