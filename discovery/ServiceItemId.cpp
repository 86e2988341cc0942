#include "discovery/ServiceItemId.h"

#include <objbase.h>

#include <cstring>

namespace {

// The shell's allocation of an item: room for the item and its copy rule's slack.
constexpr SIZE_T kServiceItemAllocation = 2 * kServiceItemSize;

// Copies up to `count` units and zero-fills the rest of the `count` places. A source
// longer than `count` is cut; a surrogate pair that the cut would split is left out whole.
void CopyField(WCHAR* destination, const WCHAR* source, size_t count) {
    size_t length = 0;
    while (length < count && source[length] != 0) ++length;
    if (length == count && length > 0 && IS_HIGH_SURROGATE(source[length - 1]) &&
        IS_LOW_SURROGATE(source[length]))
        --length;
    std::memcpy(destination, source, length * sizeof(WCHAR));
    std::memset(destination + length, 0, (count - length) * sizeof(WCHAR));
}

}  // namespace

ItemAllocateFunction g_allocateItem = CoTaskMemAlloc;

HRESULT CreateServiceItemId(const WCHAR* name, const ServiceAddress* address, const WCHAR* path,
                            LPITEMIDLIST* item) {
    *item = nullptr;
    auto* record = static_cast<ServiceItemId*>(g_allocateItem(kServiceItemAllocation));
    if (!record) return E_OUTOFMEMORY;
    record->cb = kServiceItemSize;
    CopyField(record->name, name, kServiceNameUnits - 1);
    record->name[kServiceNameUnits - 1] = 0;
    std::memcpy(&record->address, address, sizeof(ServiceAddress));
    CopyField(record->path, path, kServicePathUnits - 1);
    record->path[kServicePathUnits - 1] = 0;
    record->terminator = 0;
    *item = reinterpret_cast<LPITEMIDLIST>(record);
    return S_OK;
}

HRESULT PidlCopyPolicy::copy(LPITEMIDLIST* destination, LPITEMIDLIST const* source) {
    const ServiceItemId* item = AsServiceItem(*source);
    return CreateServiceItemId(item->name, &item->address, item->path, destination);
}

void PidlCopyPolicy::destroy(LPITEMIDLIST* item) {
    CoTaskMemFree(*item);
    *item = nullptr;
}
