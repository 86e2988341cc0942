// Runs a registration script carried as a resource in a module's own file.
#pragma once

#include <windows.h>

#include "module/CRegObject.h"

// The resource type of registration scripts.
extern const wchar_t kScriptResourceType[];

// Adds the replacements "Module" and "Module_Raw" (the full path of `instance`, every
// single quote written twice so that a quoted script token gives it back unchanged),
// then loads script resource `id` from that file and runs it with `registrar`.
HRESULT RunModuleScript(CRegObject& registrar, HINSTANCE instance, UINT id, bool registering);
