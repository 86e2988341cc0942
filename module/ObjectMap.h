// The object map: the classes that this DLL can create, one row each.
#pragma once

#include <windows.h>
#include <objbase.h>

// A component category of a class: whether it implements or requires it, and which.
struct CategoryMapEntry {
    int kind;
    const GUID* categoryId;
};

using UpdateRegistryFunction = HRESULT (*)(bool registering);
using CreatorFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);
using CreateClassFactoryFunction = HRESULT (*)(CreatorFunction createObject, REFIID iid, void** out);

struct ObjectMapEntry {
    const CLSID* classId;
    UpdateRegistryFunction updateRegistry;
    CreateClassFactoryFunction createClassFactory;
    CreatorFunction createObject;
    IUnknown* cachedFactory;  // owning, once the first DllGetClassObject made it
    DWORD registration;
    const wchar_t* (*getDescription)();
    const CategoryMapEntry* (*getCategories)();
    void (*objectMain)(bool starting);
};

// The bounds of the map, [first, last); a null row in between is skipped.
extern ObjectMapEntry* const g_objectMapFirst[];
extern ObjectMapEntry* const* const g_objectMapLast;
