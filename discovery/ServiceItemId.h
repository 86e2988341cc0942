// The one-level item identifier of a discovered service. Its byte layout is
// persisted by the shell, so every offset below is fixed.
#pragma once

#include <windows.h>
#include <shtypes.h>

#include <cstddef>

#include "mDNS.h"

constexpr USHORT kServiceItemSize = 792;  // cb: the item without the list terminator
constexpr size_t kServiceNameUnits = 128;
constexpr size_t kServicePathUnits = 256;

#pragma pack(push, 2)
struct ServiceItemId {
    USHORT cb;                      // always kServiceItemSize
    WCHAR name[kServiceNameUnits];  // at most 127 units, zero-terminated
    BYTE padding[2];                // never written, never read
    ServiceAddress address;         // as the DNS-SD library delivered it
    WCHAR path[kServicePathUnits];  // at most 255 units, zero-terminated
    USHORT terminator;              // 0: ends the item ID list
};
#pragma pack(pop)

static_assert(sizeof(ServiceItemId) == 794, "ServiceItemId is 794 bytes");
static_assert(offsetof(ServiceItemId, cb) == 0, "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, name) == 2, "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, address) == 260, "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, address) + offsetof(ServiceAddress, ipv4Address) == 264,
              "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, address) + offsetof(ServiceAddress, port) == 268,
              "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, path) == 280, "ServiceItemId layout");
static_assert(offsetof(ServiceItemId, terminator) == 792, "ServiceItemId layout");

// The task allocator's allocation, replaced only by tests that need it to fail.
using ItemAllocateFunction = LPVOID(WINAPI*)(SIZE_T size);
extern ItemAllocateFunction g_allocateItem;

// Writes a new identifier, allocated with CoTaskMemAlloc. The name keeps at most
// 127 units and the path at most 255; a cut never splits a surrogate pair.
// S_OK, or E_OUTOFMEMORY with *item null.
HRESULT CreateServiceItemId(const WCHAR* name, const ServiceAddress* address, const WCHAR* path,
                            LPITEMIDLIST* item);

// The item's name, in place: a zero-terminated string inside the item.
inline const WCHAR* GetServiceName(LPCITEMIDLIST item) {
    return reinterpret_cast<const ServiceItemId*>(item)->name;
}

// The length of that name in units. The shell hands back stored items, which may have been
// damaged: a name field that lost its zero unit is read no further than its 127 units.
inline size_t GetServiceNameLength(LPCITEMIDLIST item) {
    return wcsnlen(GetServiceName(item), kServiceNameUnits - 1);
}

inline const ServiceItemId* AsServiceItem(LPCITEMIDLIST item) {
    return reinterpret_cast<const ServiceItemId*>(item);
}

// How an enumerator hands out an item: a fresh copy owned by the receiver.
struct PidlCopyPolicy {
    static HRESULT copy(LPITEMIDLIST* destination, LPITEMIDLIST const* source);
    static void init(LPITEMIDLIST*) {}
    static void destroy(LPITEMIDLIST* item);
};
