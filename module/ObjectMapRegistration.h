// Registration of every class of the object map, as the DLL's registration exports do it.
#pragma once

#include <windows.h>

#include "module/ComModule.h"
#include "module/ObjectMap.h"

// Each row's script, then its component categories; stops at the first failure.
HRESULT RegisterObjectMap(ComModule& module);

// Each row's categories, then its script; then the module's type library, if it has one.
HRESULT UnregisterObjectMap(ComModule& module);

// Registers or removes a class's component categories. No list: nothing to do.
HRESULT RegisterClassCategories(const CLSID& classId, const CategoryMapEntry* categories,
                                bool registering);
