// The enumerator that one EnumObjects call hands to the shell: it owns the items that
// its own timed browse found, and hands out copies of them.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "discovery/ServiceItemId.h"
#include "mDNS.h"
#include "module/ComPtr.h"
#include "view/IEnumOnSTLImpl.h"

using ItemList = std::vector<LPITEMIDLIST>;
using CEnumIdListBase =
    CComEnumOnSTL<IEnumIDList, &IID_IEnumIDList, LPITEMIDLIST, PidlCopyPolicy, ItemList>;

class CEnumIdList : public CEnumIdListBase {
public:
    // The shell's allocator, which frees the items at destruction.
    HRESULT PostConstruct();
    void PreDestroy();

    // One timed browse that appends every resolved service to m_items; attaches them
    // when the search ran. Reports S_OK whatever the library does.
    HRESULT BrowseServices();
    // Makes m_items the list that this enumerator reads, from its first item.
    void AttachItems();

    // The browse's callback, on the library's thread while the browse waits.
    static void MDNS_CALL OnBrowserEvent(void* context, DNSBrowserRef browser, intptr_t status,
                                         const BrowserEvent* event) noexcept;

    ComPtr<IMalloc> m_pMalloc;
    ItemList m_items;
};
