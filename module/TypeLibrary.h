// The type library of a module: in its own file, or as the ".tlb" file beside it.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Loads the library; on success `path` is the file it came from (free it with
// SysFreeString). Both outputs are cleared first.
HRESULT LoadTypeLibForModule(HINSTANCE instance, BSTR* path, ITypeLib** library);

// Removes the registration of the module's type library. A module without one (none in
// its file and no ".tlb" beside it) has nothing to remove: S_OK.
HRESULT UnregisterModuleTypeLib(HINSTANCE instance);
