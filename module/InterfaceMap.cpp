#include "module/InterfaceMap.h"

namespace {

IUnknown* FaceAt(void* object, ptrdiff_t offset) {
    return reinterpret_cast<IUnknown*>(static_cast<char*>(object) + offset);
}

}  // namespace

HRESULT QueryInterfaceFromTable(void* object, const InterfaceMapEntry* table, REFIID iid,
                                void** out) {
    if (!object || !table) return E_INVALIDARG;
    if (!out) return E_POINTER;
    *out = nullptr;

    if (IsEqualIID(iid, IID_IUnknown)) {
        IUnknown* identity = FaceAt(object, table[0].offset);
        identity->AddRef();
        *out = identity;
        return S_OK;
    }
    for (const InterfaceMapEntry* row = table; row->iid; ++row) {
        if (!IsEqualIID(iid, *row->iid)) continue;
        IUnknown* face = FaceAt(object, row->offset);
        face->AddRef();
        *out = face;
        return S_OK;
    }
    return E_NOINTERFACE;
}
