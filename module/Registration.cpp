// The DLL's registration exports and the folder's registration function.
#include <windows.h>

#include "folder/CShellFolder.h"
#include "module/CCorvaneModule.h"
#include "module/ObjectMapRegistration.h"
#include "module/ScriptLoading.h"

namespace {

// The resource identifier of the folder's registration script.
constexpr UINT kFolderScript = 103;

}  // namespace

HRESULT CCorvaneModule::UpdateRegistryFromResource(UINT id, bool registering) {
    CRegObject registrar;
    const HRESULT hr = AddCommonRGSReplacements(&registrar);
    if (FAILED(hr)) return hr;
    return RunModuleScript(registrar, Base().moduleInstance, id, registering);
}

HRESULT CShellFolder::UpdateRegistry(bool registering) {
    return Module().UpdateRegistryFromResource(kFolderScript, registering);
}

STDAPI DllRegisterServer() { return RegisterObjectMap(Com()); }

STDAPI DllUnregisterServer() {
    const HRESULT hr = UnregisterObjectMap(Com());
    return SUCCEEDED(hr) ? S_OK : hr;
}
