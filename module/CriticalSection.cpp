#include "module/CriticalSection.h"

HRESULT MakeLock(CRITICAL_SECTION* lock) {
    if (g_initializeLock(lock, 0, 0)) return S_OK;
    return GetLastError() == ERROR_NOT_ENOUGH_MEMORY || GetLastError() == ERROR_OUTOFMEMORY
               ? E_OUTOFMEMORY
               : E_FAIL;
}

CriticalSection::~CriticalSection() {
    if (m_made) DeleteCriticalSection(&m_section);
}

HRESULT CriticalSection::Init() {
    const HRESULT hr = MakeLock(&m_section);
    m_made = SUCCEEDED(hr);
    return hr;
}
