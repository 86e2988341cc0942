// The object model that every COM object of the DLL is built on. A class T is written
// with its interfaces, members and hooks; CComObject<T> adds the reference counting,
// the interface lookup from T's table and the module lock held for the object's life.
#pragma once

#include <windows.h>

#include <new>

#include "module/CCorvaneModule.h"
#include "module/InterfaceMap.h"

// The count while an object is being destroyed: an AddRef/Release pair made during
// destruction never reaches 0 again.
constexpr LONG kDestroyingRefCount = static_cast<LONG>(0xC0000001);

// The reference count of apartment-threaded objects: plain, unsynchronised.
class CComObjectRootEx {
public:
    HRESULT PostConstruct() { return S_OK; }
    void PreDestroy() {}

    LONG m_refCount = 0;
};

template <class T>
class CComObject final : public T {
public:
    CComObject() { Module().Lock(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        return QueryInterfaceFromTable(static_cast<T*>(this), T::InterfaceMap(), iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++this->m_refCount); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG count = --this->m_refCount;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    virtual ~CComObject() {
        this->m_refCount = kDestroyingRefCount;
        this->PreDestroy();
        Module().Unlock();
    }
};

// Creates an object with no reference yet: the caller takes the first one, or
// destroys it with `delete` when its next step fails before that.
template <class T>
HRESULT CreateObject(CComObject<T>** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CComObject<T>* object = new (std::nothrow) CComObject<T>();
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->PostConstruct();
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    *out = object;
    return S_OK;
}

// The creator that a class factory runs: the new object's `iid`, with one reference.
template <class T>
HRESULT CreateAndQuery(IUnknown* outer, REFIID iid, void** out) {
    if (outer) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return CLASS_E_NOAGGREGATION;
    }
    if (!out) return E_POINTER;
    *out = nullptr;
    CComObject<T>* object = new (std::nothrow) CComObject<T>();
    if (!object) return E_OUTOFMEMORY;
    // A temporary count, so that an AddRef/Release pair inside the hook cannot destroy it.
    object->m_refCount = 1;
    HRESULT hr = object->PostConstruct();
    object->m_refCount = 0;
    if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    return S_OK;
}
