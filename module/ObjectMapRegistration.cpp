#include "module/ObjectMapRegistration.h"

#include "module/TypeLibrary.h"

HRESULT RegisterObjectMap(ComModule& module) {
    HRESULT hr = S_OK;
    for (ObjectMapEntry* const* row = module.mapFirst; row != module.mapLast; ++row) {
        if (!*row) continue;
        hr = (*row)->updateRegistry(true);
        if (FAILED(hr)) return hr;
        hr = RegisterClassCategories(*(*row)->classId, (*row)->getCategories(), true);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

HRESULT UnregisterObjectMap(ComModule& module) {
    HRESULT hr = S_OK;
    for (ObjectMapEntry* const* row = module.mapFirst; row != module.mapLast; ++row) {
        if (!*row) continue;
        hr = RegisterClassCategories(*(*row)->classId, (*row)->getCategories(), false);
        if (FAILED(hr)) return hr;
        hr = (*row)->updateRegistry(false);
        if (FAILED(hr)) return hr;
    }
    return UnregisterModuleTypeLib(module.typeLibraryInstance);
}

HRESULT RegisterClassCategories(const CLSID&, const CategoryMapEntry* categories, bool) {
    // No class of this DLL has component categories: only the empty list arises.
    return categories ? E_NOTIMPL : S_OK;
}
