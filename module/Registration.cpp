#include <windows.h>

#include "folder/CShellFolder.h"

// Registration is not offered yet: both entry points and the class's registration
// function report it instead of pretending to succeed.
HRESULT CShellFolder::UpdateRegistry(bool) { return E_NOTIMPL; }

STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }
