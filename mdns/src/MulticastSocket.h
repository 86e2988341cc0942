// The UDP socket of one search: port 5353 shared with every other mDNS stack on the host,
// member of 224.0.0.251 on each IPv4 multicast interface; or, when 5353 cannot be had,
// an ephemeral port whose queries responders answer by unicast (RFC 6762 §6.7).
#ifndef MDNS_SRC_MULTICASTSOCKET_H
#define MDNS_SRC_MULTICASTSOCKET_H

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mdns {

class MulticastSocket {
public:
    MulticastSocket() = default;
    MulticastSocket(const MulticastSocket&) = delete;
    MulticastSocket& operator=(const MulticastSocket&) = delete;
    ~MulticastSocket();

    // Looks for the IPv4 multicast interfaces (read afresh when the last read is old); false
    // when there is none.
    bool FindInterfaces();
    // False when no socket could be had on the interfaces found.
    bool Open();
    // Whether the socket has port 5353 (else it is the one-shot fallback).
    bool OnMdnsPort() const { return m_onMdnsPort; }
    // Signalled when a packet can be read.
    WSAEVENT ReadEvent() const { return m_readEvent; }

    // Sends the packet to 224.0.0.251:5353 out of every interface.
    void SendToAll(const std::vector<uint8_t>& packet);
    // Reads one waiting packet without blocking; false when none is waiting. `source`: the
    // sender's IPv4 address, 192.0.2.1 as 0xC0000201.
    bool Receive(std::vector<uint8_t>& buffer, size_t& size, uint32_t& interfaceIndex,
                 uint32_t& source);

private:
    struct Interface {
        uint32_t index;
        IN_ADDR address;
    };

    bool BindShared();
    bool BindEphemeral();
    void ReadInterfaces();
    uint32_t InterfaceOfSource(const IN_ADDR& source) const;

    SOCKET m_socket = INVALID_SOCKET;
    WSAEVENT m_readEvent = WSA_INVALID_EVENT;
    LPFN_WSARECVMSG m_recvMsg = nullptr;
    bool m_onMdnsPort = false;
    std::vector<Interface> m_interfaces;
    std::vector<uint32_t> m_prefixMasks;  // per interface, network order

    // The last list read, which sockets copy while it is fresh (under a lock of the .cpp).
    static std::vector<Interface> s_interfaces;
    static std::vector<uint32_t> s_prefixMasks;
};

}  // namespace mdns

#endif
