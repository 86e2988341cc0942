// The enumerator that one EnumObjects call hands to the shell: it owns the items that
// its own timed browse found.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <shtypes.h>

#include <vector>

#include "mDNS.h"

class CEnumIdList {
public:
    using ItemList = std::vector<LPITEMIDLIST>;

    CEnumIdList() = default;
    ~CEnumIdList();
    CEnumIdList(const CEnumIdList&) = delete;
    CEnumIdList& operator=(const CEnumIdList&) = delete;

    // One timed browse that appends every resolved service to m_items; attaches them
    // when the search ran. Reports S_OK whatever the library does.
    HRESULT BrowseServices();
    // Makes m_items the list that this enumerator reads, from its first item.
    void AttachItems();

    // The browse's callback, on the library's thread while the browse waits.
    static void MDNS_CALL OnBrowserEvent(void* context, DNSBrowserRef browser, intptr_t status,
                                         const BrowserEvent* event) noexcept;

    IUnknown* m_pOwner = nullptr;
    const ItemList* m_pList = nullptr;
    ItemList::const_iterator m_pos{};
    IMalloc* m_pMalloc = nullptr;
    ItemList m_items;
};
