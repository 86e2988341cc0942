// The second process-wide record: the object map, its lock and the cached factories.
#pragma once

#include <windows.h>

#include "module/CriticalSection.h"
#include "module/ObjectMap.h"

class ComModule {
public:
    ComModule(HINSTANCE typeLibraryInstance, ObjectMapEntry* const* mapFirst,
              ObjectMapEntry* const* mapLast);
    // Releases every cached class factory; runs once.
    ~ComModule();
    ComModule(const ComModule&) = delete;
    ComModule& operator=(const ComModule&) = delete;

    // The entry point's work: the class factory of `classId`, created once per process.
    HRESULT GetClassObject(REFCLSID classId, REFIID iid, void** out);

    UINT size;  // 0 once terminated
    HINSTANCE typeLibraryInstance;
    ObjectMapEntry* const* mapFirst;
    ObjectMapEntry* const* mapLast;

private:
    CriticalSection m_objectMapLock;
};
