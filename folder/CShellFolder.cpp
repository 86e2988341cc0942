#include "folder/CShellFolder.h"

#include <winsock2.h>

#include "module/StartupCalls.h"

const CLSID CLSID_ShellFolder = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

namespace {

constexpr WORD kSocketsVersion = MAKEWORD(2, 0);

}  // namespace

const InterfaceMapEntry* CShellFolder::InterfaceMap() {
    static const InterfaceMapEntry table[] = {
        {&IID_IShellFolder, InterfaceOffset<CShellFolder, IShellFolder2>()},
        {&IID_IShellFolder2, InterfaceOffset<CShellFolder, IShellFolder2>()},
        {&IID_IPersistFolder, InterfaceOffset<CShellFolder, IPersistFolder>()},
        {nullptr, 0},
    };
    return table;
}

HRESULT CShellFolder::PostConstruct() {
    HRESULT hr = g_getShellAllocator(m_pMalloc.Put());
    if (FAILED(hr)) return hr;
    WSADATA data;
    if (g_startSockets(kSocketsVersion, &data) != 0) return E_FAIL;
    m_bWinsockStarted = true;
    return data.wVersion == kSocketsVersion ? S_OK : E_FAIL;
}

void CShellFolder::PreDestroy() {
    if (m_bWinsockStarted) WSACleanup();
}

STDMETHODIMP CShellFolder::GetClassID(CLSID* classId) {
    if (!classId) return E_INVALIDARG;
    *classId = CLSID_ShellFolder;
    return S_OK;
}

// The folder keeps no location: every operation works on the items passed to it.
STDMETHODIMP CShellFolder::Initialize(PCIDLIST_ABSOLUTE) { return S_OK; }

// The folder is flat and names nothing by parsing, binding or searching.
STDMETHODIMP CShellFolder::ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, PIDLIST_RELATIVE*,
                                            ULONG*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::BindToObject(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::BindToStorage(PCUIDLIST_RELATIVE, IBindCtx*, REFIID, void**) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::GetDefaultSearchGUID(GUID*) { return E_NOTIMPL; }

STDMETHODIMP CShellFolder::EnumSearches(IEnumExtraSearch**) { return E_NOTIMPL; }

// Naming, columns, item UI objects and the view: not offered yet.
STDMETHODIMP CShellFolder::CompareIDs(LPARAM, PCUIDLIST_RELATIVE, PCUIDLIST_RELATIVE) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::CreateViewObject(HWND, REFIID, void**) { return E_NOTIMPL; }

STDMETHODIMP CShellFolder::GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::GetUIObjectOf(HWND, UINT, PCUITEMID_CHILD_ARRAY, REFIID, UINT*,
                                         void**) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::GetDisplayNameOf(PCUITEMID_CHILD, SHGDNF, STRRET*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::GetDefaultColumn(DWORD, ULONG*, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CShellFolder::GetDefaultColumnState(UINT, SHCOLSTATEF*) { return E_NOTIMPL; }

STDMETHODIMP CShellFolder::GetDetailsEx(PCUITEMID_CHILD, const SHCOLUMNID*, VARIANT*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::GetDetailsOf(PCUITEMID_CHILD, UINT, SHELLDETAILS*) {
    return E_NOTIMPL;
}

STDMETHODIMP CShellFolder::MapColumnToSCID(UINT, SHCOLUMNID*) { return E_NOTIMPL; }
