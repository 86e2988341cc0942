#include "module/ScriptLoading.h"

#include "module/RegistryResult.h"

const wchar_t kScriptResourceType[] = L"REGISTRY";

namespace {

constexpr DWORD kPathLength = MAX_PATH;

}  // namespace

HRESULT RunModuleScript(CRegObject& registrar, HINSTANCE instance, UINT id, bool registering) {
    wchar_t fileName[kPathLength];
    const DWORD length = GetModuleFileNameW(instance, fileName, kPathLength);
    if (length == 0) return LastErrorResult();
    if (length == kPathLength) return HResultFromError(ERROR_INSUFFICIENT_BUFFER);

    wchar_t escaped[2 * kPathLength];
    wchar_t* out = escaped;
    for (const wchar_t* in = fileName; *in; ++in) {
        if (*in == L'\'') *out++ = L'\'';
        *out++ = *in;
    }
    *out = L'\0';

    HRESULT hr = registrar.AddReplacement(L"Module", escaped);
    if (FAILED(hr)) return hr;
    hr = registrar.AddReplacement(L"Module_Raw", escaped);
    if (FAILED(hr)) return hr;
    return registrar.RegisterFromResource(fileName, id, kScriptResourceType, registering);
}
