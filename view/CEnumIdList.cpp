#include "view/CEnumIdList.h"

#include "discovery/ServiceWatch.h"
#include "folder/CShellFolder.h"
#include "module/StartupCalls.h"

HRESULT CEnumIdList::PostConstruct() {
    const HRESULT hr = g_getShellAllocator(m_pMalloc.Put());
    return FAILED(hr) ? hr : S_OK;
}

void CEnumIdList::PreDestroy() {
    for (LPITEMIDLIST item : m_items) m_pMalloc->Free(item);
    m_items.clear();
}

// Every call runs a fresh browse and yields every service found, whatever the flags.
STDMETHODIMP CShellFolder::EnumObjects(HWND owner, SHCONTF, IEnumIDList** out) {
    // Without somewhere to put the result the browse would be 500 ms for nothing.
    if (!out) return E_POINTER;
    *out = nullptr;
    CComObject<CEnumIdList>* enumerator = nullptr;
    const HRESULT hr = CreateObject(&enumerator);
    if (FAILED(hr)) return hr;
    // The watch of the view that enumerates starts from what the view now lists.
    ServiceWatch* watch = WatchFor(owner);
    if (watch) watch->BeginEnumeration();
    enumerator->BrowseServices();
    if (watch) {
        static const ItemList kNothing;
        watch->EndEnumeration(owner, enumerator->m_pList ? *enumerator->m_pList : kNothing);
        watch->Release();
    }
    enumerator->AddRef();
    *out = enumerator;
    return S_OK;
}
