#include "module/TypeLibrary.h"

#include <shlwapi.h>

#include <cwchar>

#include "module/ComPtr.h"
#include "module/RegistryResult.h"

namespace {

// The module's file name, and where its extension begins (its end when it has none).
struct ModuleName {
    wchar_t text[MAX_PATH];
    wchar_t* extension;
};

HRESULT GetModuleName(HINSTANCE instance, ModuleName* name) {
    const DWORD length = GetModuleFileNameW(instance, name->text, MAX_PATH);
    if (length == 0) return LastErrorResult();
    if (length == MAX_PATH) return HResultFromError(ERROR_INSUFFICIENT_BUFFER);
    name->extension = PathFindExtensionW(name->text);
    return S_OK;
}

// Whether ".tlb" fits in place of the extension.
bool TlbNameFits(const ModuleName& name) { return (name.extension - name.text) + 5 <= MAX_PATH; }

// Whether there is a library to be found at all: one in the module's file, or the file
// beside it. When the ".tlb" name cannot be formed, that cannot be known.
bool TypeLibraryPresent(HINSTANCE instance) {
    if (FindResourceW(instance, MAKEINTRESOURCEW(1), L"TYPELIB")) return true;
    ModuleName name;
    if (FAILED(GetModuleName(instance, &name))) return true;
    if (!TlbNameFits(name)) return true;
    wcscpy(name.extension, L".tlb");
    return GetFileAttributesW(name.text) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

HRESULT LoadTypeLibForModule(HINSTANCE instance, BSTR* path, ITypeLib** library) {
    *path = nullptr;
    *library = nullptr;
    ModuleName name;
    HRESULT hr = GetModuleName(instance, &name);
    if (FAILED(hr)) return hr;

    hr = LoadTypeLib(name.text, library);
    if (FAILED(hr)) {
        if (!TlbNameFits(name)) return E_FAIL;
        wcscpy(name.extension, L".tlb");
        hr = LoadTypeLib(name.text, library);
    }
    if (SUCCEEDED(hr)) {
        *path = SysAllocString(name.text);
        if (!*path) {
            (*library)->Release();
            *library = nullptr;
            return E_OUTOFMEMORY;
        }
    }
    return hr;
}

HRESULT UnregisterModuleTypeLib(HINSTANCE instance) {
    BSTR path = nullptr;
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibForModule(instance, &path, library.Put());
    if (FAILED(hr)) return TypeLibraryPresent(instance) ? hr : S_OK;
    SysFreeString(path);

    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
    return hr;
}
