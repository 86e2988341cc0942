// Interface tables: each COM class lists, as data, which interfaces it answers and
// where in the object each interface pointer lies.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <cstdint>

// One row: the interface and the offset of its pointer from the object's start. Every
// table of this system is made of such rows only; a row with a null IID ends it.
struct InterfaceMapEntry {
    const IID* iid;
    ptrdiff_t offset;
};

// The offset of the Interface face inside a Class object.
template <class Class, class Interface>
ptrdiff_t InterfaceOffset() {
    // A base-class cast only adds a fixed distance; any non-null aligned address shows it.
    const uintptr_t base = 0x10000;
    Class* object = reinterpret_cast<Class*>(base);
    return static_cast<ptrdiff_t>(reinterpret_cast<uintptr_t>(static_cast<Interface*>(object)) - base);
}

// QueryInterface over a table. The first row answers IUnknown, so every face of one
// object gives the same identity.
HRESULT QueryInterfaceFromTable(void* object, const InterfaceMapEntry* table, REFIID iid,
                                void** out);
