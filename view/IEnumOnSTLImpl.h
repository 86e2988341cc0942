// An enumerator over a list that someone else owns: hands out copies of its items, made
// by the Copy policy, and keeps the list's owner alive while it reads the list.
#pragma once

#include <windows.h>

#include "module/CComObject.h"

template <class Base, const IID* piid, class T, class Copy, class Collection>
class IEnumOnSTLImpl : public Base {
public:
    ~IEnumOnSTLImpl() {
        if (m_pOwner) m_pOwner->Release();
    }

    STDMETHODIMP Next(ULONG wanted, T* items, ULONG* fetched) override {
        if (!items) return E_POINTER;
        if (wanted != 1 && !fetched) return E_POINTER;
        if (fetched) *fetched = 0;
        if (!m_pList) return E_FAIL;

        const typename Collection::const_iterator start = m_pos;
        ULONG copied = 0;
        for (; m_pos != m_pList->end() && copied < wanted; ++m_pos, ++copied) {
            const HRESULT hr = Copy::copy(&items[copied], &*m_pos);
            if (FAILED(hr)) {
                for (ULONG i = 0; i < copied; ++i) Copy::destroy(&items[i]);
                // Back to where the call started, so that a retry gets the same items.
                m_pos = start;
                return hr;
            }
        }
        if (fetched) *fetched = copied;
        return copied < wanted ? S_FALSE : S_OK;
    }

    STDMETHODIMP Skip(ULONG count) override {
        if (count == 0) return S_OK;
        if (!m_pList) return E_FAIL;
        for (; count > 0; --count, ++m_pos)
            if (m_pos == m_pList->end()) return S_FALSE;
        return S_OK;
    }

    STDMETHODIMP Reset() override {
        if (!m_pList) return E_FAIL;
        m_pos = m_pList->begin();
        return S_OK;
    }

    STDMETHODIMP Clone(Base** out) override;

    IUnknown* m_pOwner = nullptr;
    const Collection* m_pList = nullptr;
    typename Collection::const_iterator m_pos{};
};

// The plain enumerator class: what a clone is.
template <class Base, const IID* piid, class T, class Copy, class Collection>
class CComEnumOnSTL : public IEnumOnSTLImpl<Base, piid, T, Copy, Collection>,
                      public CComObjectRootEx {
public:
    static const InterfaceMapEntry* InterfaceMap() {
        static const InterfaceMapEntry table[] = {
            {piid, InterfaceOffset<CComEnumOnSTL, Base>()},
            {nullptr, 0},
        };
        return table;
    }
};

template <class Base, const IID* piid, class T, class Copy, class Collection>
STDMETHODIMP IEnumOnSTLImpl<Base, piid, T, Copy, Collection>::Clone(Base** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_pList) return E_FAIL;

    using CloneClass = CComEnumOnSTL<Base, piid, T, Copy, Collection>;
    CComObject<CloneClass>* clone = nullptr;
    HRESULT hr = CreateObject(&clone);
    if (FAILED(hr)) return hr;
    // The list belongs to the enumerator that filled it: this one, or this clone's owner.
    clone->m_pOwner = m_pOwner ? m_pOwner : static_cast<IUnknown*>(static_cast<Base*>(this));
    clone->m_pOwner->AddRef();
    clone->m_pList = m_pList;
    clone->m_pos = m_pos;
    hr = clone->QueryInterface(*piid, reinterpret_cast<void**>(out));
    if (FAILED(hr)) delete clone;
    return hr;
}
