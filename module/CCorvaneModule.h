// The module object: the lock count that every live COM object of the DLL holds.
#pragma once

#include <windows.h>

#include "module/BaseModule.h"
#include "module/ComModule.h"
#include "module/CriticalSection.h"
#include "module/IRegistrarBase.h"

class CCorvaneModule {
public:
    CCorvaneModule();
    // Runs the rows' shut-down hooks; runs once.
    virtual ~CCorvaneModule();
    CCorvaneModule(const CCorvaneModule&) = delete;
    CCorvaneModule& operator=(const CCorvaneModule&) = delete;

    virtual LONG Lock() { return InterlockedIncrement(&m_lockCount); }
    virtual LONG Unlock() { return InterlockedDecrement(&m_lockCount); }
    virtual LONG GetLockCount() { return m_lockCount; }
    // The replacements that every script of the DLL may use besides the module's path.
    virtual HRESULT AddCommonRGSReplacements(IRegistrarBase* registrar) {
        return registrar->AddReplacement(L"APPID", L"");
    }

    // Runs registration script `id` of the DLL's own file (module/ScriptLoading.cpp).
    HRESULT UpdateRegistryFromResource(UINT id, bool registering);

    UINT size;  // 0 once terminated

private:
    LONG m_lockCount = 0;
    CriticalSection m_moduleLock;
};

// The process-wide records, built in this order when the image loads and torn down in
// reverse when it unloads.
BaseModule& Base();
ComModule& Com();
CCorvaneModule& Module();
