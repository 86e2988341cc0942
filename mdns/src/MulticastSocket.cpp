#include "mdns/src/MulticastSocket.h"

#include <iphlpapi.h>

#include <memory>
#include <mutex>

#include "mdns/src/AdapterList.h"
#include "mdns/wire/DnsMessage.h"
#include "runtime/SlimLock.h"

namespace mdns {

namespace {

constexpr uint16_t kMdnsPort = 5353;
constexpr uint32_t kMdnsGroup = 0xE00000FB;  // 224.0.0.251
constexpr DWORD kMulticastTtl = 255;         // RFC 6762 §11
constexpr int kReceiveBufferBytes = 1 << 20; // a thousand services arrive in a burst

sockaddr_in GroupAddress() {
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kMdnsPort);
    group.sin_addr.s_addr = htonl(kMdnsGroup);
    return group;
}

// The adapter list is read again only this long after the last read: reading it took
// 20 to 770 ms under load, on the way from EnumObjects to the first query.
constexpr ULONGLONG kInterfacesFreshMs = 30 * 1000;

SlimLock g_interfacesLock;
ULONGLONG g_interfacesRead = 0;

}  // namespace

std::vector<MulticastSocket::Interface> MulticastSocket::s_interfaces;
std::vector<uint32_t> MulticastSocket::s_prefixMasks;

MulticastSocket::~MulticastSocket() {
    if (m_socket != INVALID_SOCKET) closesocket(m_socket);
    if (m_readEvent != WSA_INVALID_EVENT) WSACloseEvent(m_readEvent);
}

bool MulticastSocket::FindInterfaces() {
    std::lock_guard<SlimLock> guard(g_interfacesLock);
    const ULONGLONG now = GetTickCount64();
    if (s_interfaces.empty() || now - g_interfacesRead >= kInterfacesFreshMs) {
        ReadInterfaces();
        s_interfaces = m_interfaces;
        s_prefixMasks = m_prefixMasks;
        g_interfacesRead = now;
    } else {
        m_interfaces = s_interfaces;
        m_prefixMasks = s_prefixMasks;
    }
    return !m_interfaces.empty();
}

void MulticastSocket::ReadInterfaces() {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::unique_ptr<unsigned char[]> buffer;
    for (auto* adapter = ReadAdapterList(flags, buffer); adapter; adapter = adapter->Next) {
        // Some stacks mark no adapter as unable to multicast, loopback included: choose
        // by type and state as well.
        if (adapter->OperStatus != IfOperStatusUp) continue;
        if (adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        if (adapter->Flags & IP_ADAPTER_NO_MULTICAST) continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (!address || address->sa_family != AF_INET) continue;
            const IN_ADDR ipv4 = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
            m_interfaces.push_back({adapter->IfIndex, ipv4});
            const ULONG length = unicast->OnLinkPrefixLength <= 32 ? unicast->OnLinkPrefixLength : 32;
            m_prefixMasks.push_back(length == 0 ? 0 : htonl(0xFFFFFFFFu << (32 - length)));
        }
    }
}

bool MulticastSocket::BindShared() {
    // SO_REUSEADDR before bind shares 5353 with the system's responder and other stacks;
    // SO_EXCLUSIVEADDRUSE would lock them out (or us).
    BOOL reuse = TRUE;
    if (setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof(reuse)) != 0)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kMdnsPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) return false;
    bool joined = false;
    for (const Interface& entry : m_interfaces) {
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = htonl(kMdnsGroup);
        membership.imr_interface = entry.address;
        if (setsockopt(m_socket, IPPROTO_IP, IP_ADD_MEMBERSHIP,
                       reinterpret_cast<const char*>(&membership), sizeof(membership)) == 0)
            joined = true;
    }
    return joined;
}

bool MulticastSocket::BindEphemeral() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

bool MulticastSocket::Open() {
    if (m_interfaces.empty()) return false;
    for (bool shared : {true, false}) {
        m_socket = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (m_socket == INVALID_SOCKET) return false;
        if (shared ? BindShared() : BindEphemeral()) {
            m_onMdnsPort = shared;
            break;
        }
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    if (m_socket == INVALID_SOCKET) return false;

    const DWORD ttl = kMulticastTtl;
    setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof(ttl));
    const int receiveBytes = kReceiveBufferBytes;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBytes),
               sizeof(receiveBytes));
    // The arrival interface comes with each packet where the stack offers it.
    const DWORD on = TRUE;
    if (setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof(on)) == 0) {
        GUID id = WSAID_WSARECVMSG;
        DWORD bytes = 0;
        if (WSAIoctl(m_socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &m_recvMsg,
                     sizeof(m_recvMsg), &bytes, nullptr, nullptr) != 0)
            m_recvMsg = nullptr;
    }
    m_readEvent = WSACreateEvent();
    if (m_readEvent == WSA_INVALID_EVENT) return false;
    // Also makes the socket non-blocking.
    return WSAEventSelect(m_socket, m_readEvent, FD_READ) == 0;
}

void MulticastSocket::SendToAll(const std::vector<uint8_t>& packet) {
    const sockaddr_in group = GroupAddress();
    for (const Interface& entry : m_interfaces) {
        setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&entry.address),
                   sizeof(entry.address));
        sendto(m_socket, reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()),
               0, reinterpret_cast<const sockaddr*>(&group), sizeof(group));
    }
}

uint32_t MulticastSocket::InterfaceOfSource(const IN_ADDR& source) const {
    for (size_t i = 0; i < m_interfaces.size(); ++i) {
        if ((source.s_addr & m_prefixMasks[i]) == (m_interfaces[i].address.s_addr & m_prefixMasks[i]))
            return m_interfaces[i].index;
    }
    return 0;
}

bool MulticastSocket::Receive(std::vector<uint8_t>& buffer, size_t& size, uint32_t& interfaceIndex,
                              uint32_t& source) {
    // One byte more than any packet accepted, so an oversized one shows as such.
    buffer.resize(wire::kMaxMessageSize + 1);
    sockaddr_in sender{};
    interfaceIndex = 0;
    if (m_recvMsg) {
        WSABUF data{static_cast<ULONG>(buffer.size()), reinterpret_cast<char*>(buffer.data())};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&sender);
        message.namelen = sizeof(sender);
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control = {sizeof(control), control};
        DWORD received = 0;
        if (m_recvMsg(m_socket, &message, &received, nullptr, nullptr) != 0) {
            // A packet larger than the buffer is too large for mDNS anyway: taken and dropped.
            if (WSAGetLastError() != WSAEMSGSIZE) return false;
            received = static_cast<DWORD>(buffer.size());
        }
        for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header;
             header = WSA_CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO)
                interfaceIndex = reinterpret_cast<IN_PKTINFO*>(WSA_CMSG_DATA(header))->ipi_ifindex;
        }
        size = received;
    } else {
        int senderSize = sizeof(sender);
        const int received = recvfrom(m_socket, reinterpret_cast<char*>(buffer.data()),
                                      static_cast<int>(buffer.size()), 0,
                                      reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (received < 0) {
            if (WSAGetLastError() != WSAEMSGSIZE) return false;
            size = buffer.size();
        } else {
            size = static_cast<size_t>(received);
        }
    }
    if (interfaceIndex == 0) interfaceIndex = InterfaceOfSource(sender.sin_addr);
    source = ntohl(sender.sin_addr.s_addr);
    return true;
}

}  // namespace mdns
