#include "mdns/src/AdapterList.h"

#include <new>

namespace mdns {

namespace {

// The list's usual size; a larger one is asked for again with the size it needs.
constexpr ULONG kFirstBufferSize = 16 * 1024;
constexpr int kReadTries = 4;

}  // namespace

IP_ADAPTER_ADDRESSES* ReadAdapterList(ULONG flags, std::unique_ptr<unsigned char[]>& buffer) {
    ULONG size = kFirstBufferSize;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < kReadTries && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.reset(new (std::nothrow) unsigned char[size]);
        if (!buffer) return nullptr;
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    return result == NO_ERROR ? reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()) : nullptr;
}

}  // namespace mdns
