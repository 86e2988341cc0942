#include "module/ComModule.h"

#include "module/BaseModule.h"

ComModule::ComModule(HINSTANCE instance, ObjectMapEntry* const* first, ObjectMapEntry* const* last)
    : size(sizeof(ComModule)), typeLibraryInstance(instance), mapFirst(first), mapLast(last) {
    if (FAILED(m_objectMapLock.Init())) g_initFailed = true;
}

ComModule::~ComModule() {
    if (size == 0) return;
    for (ObjectMapEntry* const* row = mapFirst; row != mapLast; ++row) {
        if (*row && (*row)->cachedFactory) {
            IUnknown* factory = (*row)->cachedFactory;
            (*row)->cachedFactory = nullptr;
            factory->Release();
        }
    }
    size = 0;
}

HRESULT ComModule::GetClassObject(REFCLSID classId, REFIID iid, void** out) {
    if (size == 0) return E_UNEXPECTED;
    if (!out) return E_POINTER;
    *out = nullptr;

    ObjectMapEntry* entry = nullptr;
    for (ObjectMapEntry* const* row = mapFirst; row != mapLast && !entry; ++row) {
        if (*row && (*row)->createClassFactory && IsEqualCLSID(*(*row)->classId, classId))
            entry = *row;
    }
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;

    HRESULT hr = S_OK;
    // Checked before and under the lock: two threads asking at once make one factory.
    IUnknown* volatile* cached = &entry->cachedFactory;
    if (!*cached) {
        CriticalSectionGuard guard(m_objectMapLock);
        if (!*cached)
            hr = entry->createClassFactory(entry->createObject, IID_IUnknown,
                                           reinterpret_cast<void**>(&entry->cachedFactory));
    }
    if (*cached) hr = (*cached)->QueryInterface(iid, out);
    if (*out == nullptr && hr == S_OK) return CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}
