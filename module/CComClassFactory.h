// The class factory of the folder class, and the cached object that wraps it: created
// once per process, held by the object map, and holding the module lock only while
// someone besides the map holds it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "module/CComObject.h"
#include "module/CCorvaneModule.h"
#include "module/CriticalSection.h"
#include "module/InterfaceMap.h"
#include "module/ObjectMap.h"

class CComClassFactory : public IClassFactory {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    static const InterfaceMapEntry* InterfaceMap();

    LONG m_refCount = 0;
    CriticalSection m_objectLock;
    CreatorFunction m_createObject = nullptr;
};

template <class T>
class CComObjectCached final : public T {
public:
    // Both locks or neither: a factory whose locks cannot be made is never handed out.
    HRESULT Init() {
        const HRESULT hr = this->m_objectLock.Init();
        return FAILED(hr) ? hr : m_cacheLock.Init();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return QueryInterfaceFromTable(static_cast<T*>(this), T::InterfaceMap(), iid, out);
    }
    // The count's tests for 2 and 1 are made inside the lock, so that the module lock
    // is taken and given back exactly once per outside holder.
    STDMETHODIMP_(ULONG) AddRef() override {
        CriticalSectionGuard guard(m_cacheLock);
        const LONG count = InterlockedIncrement(&this->m_refCount);
        if (count == 2) Module().Lock();
        return static_cast<ULONG>(count);
    }
    STDMETHODIMP_(ULONG) Release() override {
        LONG count;
        {
            CriticalSectionGuard guard(m_cacheLock);
            InterlockedDecrement(&this->m_refCount);
            count = this->m_refCount;
        }
        if (count == 0)
            delete this;
        else if (count == 1)
            Module().Unlock();
        return static_cast<ULONG>(count);
    }
    virtual ~CComObjectCached() { this->m_refCount = kDestroyingRefCount; }

private:
    CriticalSection m_cacheLock;
};

// The object map's class-factory creator: a new factory bound to `createObject`.
HRESULT CreateClassFactory(CreatorFunction createObject, REFIID iid, void** out);
