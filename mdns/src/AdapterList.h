// The machine's IPv4 adapters as the platform lists them.
#ifndef MDNS_SRC_ADAPTERLIST_H
#define MDNS_SRC_ADAPTERLIST_H

#include <winsock2.h>
#include <iphlpapi.h>

#include <memory>

namespace mdns {

// Reads the list into `buffer`, larger as the platform asks for more room; the first
// adapter, or null when the list cannot be read or memory cannot be had.
IP_ADAPTER_ADDRESSES* ReadAdapterList(ULONG flags, std::unique_ptr<unsigned char[]>& buffer);

}  // namespace mdns

#endif
