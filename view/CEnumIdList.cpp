#include "view/CEnumIdList.h"

CEnumIdList::~CEnumIdList() {
    for (LPITEMIDLIST item : m_items) {
        if (m_pMalloc)
            m_pMalloc->Free(item);
        else
            CoTaskMemFree(item);
    }
    if (m_pMalloc) m_pMalloc->Release();
    if (m_pOwner) m_pOwner->Release();
}
