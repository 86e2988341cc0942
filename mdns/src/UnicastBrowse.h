// The unicast side of a browser's search: a thread of its own that reads the machine's DNS
// configuration, runs a UnicastSearch against its servers over UDP (TCP for what comes
// back truncated) and hands each resolved instance to the browser. It ends when the search
// has nothing left to ask, or when woken; Shut joins it.
#ifndef MDNS_SRC_UNICASTBROWSE_H
#define MDNS_SRC_UNICASTBROWSE_H

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "mdns/src/UnicastCache.h"
#include "mdns/src/UnicastSearch.h"
#include "mdns/wire/DnsMessage.h"

namespace mdns {

class UnicastBrowse {
public:
    using Deliver = void (*)(void* context, const UnicastResolved& resolved);

    UnicastBrowse(wire::Name type, UnicastCache& cache, Deliver deliver, void* context);
    UnicastBrowse(const UnicastBrowse&) = delete;
    UnicastBrowse& operator=(const UnicastBrowse&) = delete;
    ~UnicastBrowse();

    bool Start();
    // Ends the browse: nothing is delivered once the delivery under way, if any, is over.
    void Wake();
    // Wakes and joins the thread.
    void Shut();
    bool OnOwnThread() const { return m_threadId.load() == GetCurrentThreadId(); }

private:
    // One TCP connection to a server: the queries queued for it, the bytes read from it.
    struct TcpLink {
        uint32_t server = 0;
        SOCKET socket = INVALID_SOCKET;
        WSAEVENT event = WSA_INVALID_EVENT;
        bool connected = false;
        std::vector<uint8_t> out;
        std::vector<uint8_t> in;
    };

    static DWORD WINAPI ThreadMain(void* browse);
    void Run();
    void Serve(UnicastSearch& search, SOCKET udp, WSAEVENT udpEvent);
    void ReadUdp(UnicastSearch& search, SOCKET udp);
    TcpLink* LinkTo(uint32_t server);
    void Flush(TcpLink& link);
    void ServeLink(UnicastSearch& search, TcpLink& link);
    void Close(TcpLink& link);

    const wire::Name m_type;
    UnicastCache& m_cache;
    const Deliver m_deliver;
    void* const m_context;
    HANDLE m_wake = nullptr;
    HANDLE m_thread = nullptr;
    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_stopping{false};
    std::vector<TcpLink> m_links;
    std::vector<uint8_t> m_buffer;
};

}  // namespace mdns

#endif
