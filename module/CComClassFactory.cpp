#include "module/CComClassFactory.h"

#include <new>

#include "module/CCorvaneModule.h"

const InterfaceMapEntry* CComClassFactory::InterfaceMap() {
    static const InterfaceMapEntry table[] = {
        {&IID_IClassFactory, InterfaceOffset<CComClassFactory, IClassFactory>()},
        {nullptr, 0},
    };
    return table;
}

STDMETHODIMP CComClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return m_createObject(outer, iid, out);
}

STDMETHODIMP CComClassFactory::LockServer(BOOL lock) {
    if (lock)
        Module().Lock();
    else
        Module().Unlock();
    return S_OK;
}

HRESULT CreateClassFactory(CreatorFunction createObject, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* factory = new (std::nothrow) CComObjectCached<CComClassFactory>();
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->Init();
    if (FAILED(hr)) {
        delete factory;
        return E_OUTOFMEMORY;
    }
    factory->m_createObject = createObject;
    hr = factory->QueryInterface(iid, out);
    if (hr != S_OK) delete factory;
    return hr;
}
