#include "folder/CShellFolder.h"

#include <winsock2.h>
#include <intshcut.h>
#include <ntquery.h>
#include <shlguid.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "discovery/ServiceItemId.h"
#include "discovery/ServiceUrl.h"

#include "module/StartupCalls.h"

const CLSID CLSID_ShellFolder = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

namespace {

constexpr WORD kSocketsVersion = MAKEWORD(2, 0);
constexpr UINT kNameColumn = 0;
constexpr int kNameColumnWidth = 60;  // in average characters
const WCHAR kNameColumnTitle[] = L"Name";

}  // namespace

const InterfaceMapEntry* CShellFolder::InterfaceMap() {
    static const InterfaceMapEntry table[] = {
        {&IID_IShellFolder, InterfaceOffset<CShellFolder, IShellFolder2>()},
        {&IID_IShellFolder2, InterfaceOffset<CShellFolder, IShellFolder2>()},
        {&IID_IPersistFolder, InterfaceOffset<CShellFolder, IPersistFolder2>()},
        {&IID_IPersistFolder2, InterfaceOffset<CShellFolder, IPersistFolder2>()},
        {&IID_IPersistIDList, InterfaceOffset<CShellFolder, IPersistIDList>()},
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
    EndWatches();
    if (m_bWinsockStarted) WSACleanup();
    if (m_pidl) m_pMalloc->Free(m_pidl);
}

STDMETHODIMP CShellFolder::GetClassID(CLSID* classId) {
    if (!classId) return E_INVALIDARG;
    *classId = CLSID_ShellFolder;
    return S_OK;
}

PIDLIST_ABSOLUTE CShellFolder::Duplicate(PCIDLIST_ABSOLUTE list) {
    const UINT bytes = ILGetSize(list);
    auto* copy = static_cast<PIDLIST_ABSOLUTE>(m_pMalloc->Alloc(bytes));
    if (copy) std::memcpy(copy, list, bytes);
    return copy;
}

HRESULT CShellFolder::KeepIDList(PCIDLIST_ABSOLUTE folder) {
    PIDLIST_ABSOLUTE copy = nullptr;
    if (folder && !(copy = Duplicate(folder))) return E_OUTOFMEMORY;
    if (m_pidl) m_pMalloc->Free(m_pidl);
    m_pidl = copy;
    return S_OK;
}

HRESULT CShellFolder::CopyIDList(PIDLIST_ABSOLUTE* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_pidl) return S_FALSE;
    *out = Duplicate(m_pidl);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Only the location is kept: every other operation works on the items passed to it.
STDMETHODIMP CShellFolder::Initialize(PCIDLIST_ABSOLUTE folder) { return KeepIDList(folder); }

STDMETHODIMP CShellFolder::GetCurFolder(PIDLIST_ABSOLUTE* folder) { return CopyIDList(folder); }

STDMETHODIMP CShellFolder::SetIDList(PCIDLIST_ABSOLUTE folder) {
    if (!folder) return E_INVALIDARG;
    return KeepIDList(folder);
}

STDMETHODIMP CShellFolder::GetIDList(PIDLIST_ABSOLUTE* folder) { return CopyIDList(folder); }

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

// Every item has one name, the service's instance name, for every purpose.
STDMETHODIMP CShellFolder::GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF, STRRET* name) {
    if (!item || !name) return E_INVALIDARG;
    const size_t units = GetServiceNameLength(item);
    auto* copy = static_cast<WCHAR*>(m_pMalloc->Alloc((units + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, GetServiceName(item), units * sizeof(WCHAR));
    copy[units] = L'\0';
    name->uType = STRRET_WSTR;
    name->pOleStr = copy;
    return S_OK;
}

// Exact code-unit order: case-sensitive, no locale, a prefix before what extends it.
STDMETHODIMP CShellFolder::CompareIDs(LPARAM, PCUIDLIST_RELATIVE first,
                                      PCUIDLIST_RELATIVE second) {
    const WCHAR* a = GetServiceName(first);
    const WCHAR* b = GetServiceName(second);
    const size_t aUnits = GetServiceNameLength(first), bUnits = GetServiceNameLength(second);
    size_t i = 0;
    while (i < aUnits && i < bUnits && a[i] == b[i]) ++i;
    const WCHAR aUnit = i < aUnits ? a[i] : L'\0', bUnit = i < bUnits ? b[i] : L'\0';
    if (aUnit == bUnit) return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(aUnit < bUnit ? -1 : 1));
}

// Items can be opened only: never folders, links, renamable or deletable.
STDMETHODIMP CShellFolder::GetAttributesOf(UINT, PCUITEMID_CHILD_ARRAY, SFGAOF* attributes) {
    if (!attributes) return E_INVALIDARG;
    *attributes = 0;
    return S_OK;
}

STDMETHODIMP CShellFolder::SetNameOf(HWND, PCUITEMID_CHILD, LPCWSTR, SHGDNF, PITEMID_CHILD*) {
    return E_FAIL;
}

// One detail column, "Name", which is also the sort and display default.
STDMETHODIMP CShellFolder::GetDefaultColumn(DWORD, ULONG* sort, ULONG* display) {
    if (!sort || !display) return E_INVALIDARG;
    *sort = kNameColumn;
    *display = kNameColumn;
    return S_OK;
}

STDMETHODIMP CShellFolder::GetDefaultColumnState(UINT column, SHCOLSTATEF* flags) {
    if (column != kNameColumn || !flags) return E_INVALIDARG;
    *flags = SHCOLSTATE_TYPE_STR | SHCOLSTATE_ONBYDEFAULT;
    return S_OK;
}

STDMETHODIMP CShellFolder::GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* details) {
    if (column != kNameColumn || !details) return E_INVALIDARG;
    // No item asks for the column's header.
    const WCHAR* text = item ? GetServiceName(item) : kNameColumnTitle;
    const size_t units = item ? GetServiceNameLength(item) : wcslen(kNameColumnTitle);
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((units + 1) * sizeof(WCHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, text, units * sizeof(WCHAR));
    copy[units] = L'\0';
    details->str.pOleStr = copy;
    details->fmt = LVCFMT_LEFT;
    details->cxChar = kNameColumnWidth;
    details->str.uType = STRRET_WSTR;
    return S_OK;
}

STDMETHODIMP CShellFolder::GetDetailsEx(PCUITEMID_CHILD item, const SHCOLUMNID* column,
                                        VARIANT* value) {
    if (!item || !column || !value) return E_INVALIDARG;
    if (!IsEqualGUID(column->fmtid, FMTID_Storage) || column->pid != PID_STG_NAME)
        return E_INVALIDARG;
    // Overwritten, not cleared: the caller hands in a variant that holds nothing of its own.
    BSTR name =
        SysAllocStringLen(GetServiceName(item), static_cast<UINT>(GetServiceNameLength(item)));
    if (name) {
        value->vt = VT_BSTR;
        value->bstrVal = name;
    } else {
        value->vt = VT_ERROR;
        value->scode = E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CShellFolder::MapColumnToSCID(UINT column, SHCOLUMNID* id) {
    if (column != kNameColumn || !id) return E_INVALIDARG;
    id->fmtid = FMTID_Storage;
    id->pid = PID_STG_NAME;
    return S_OK;
}

// Opening an item is opening an Internet Shortcut to its service's URL: the folder hands
// out the shell's own shortcut object, set to that URL, for whatever the shell asks.
STDMETHODIMP CShellFolder::GetUIObjectOf(HWND, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid,
                                         UINT*, void** out) {
    if (count == 0 || !items || !out) return E_INVALIDARG;
    if (count != 1) return E_FAIL;

    ComPtr<IUniformResourceLocatorW> shortcut;
    HRESULT hr = CoCreateInstance(CLSID_InternetShortcut, nullptr, CLSCTX_ALL,
                                  IID_IUniformResourceLocatorW, shortcut.PutVoid());
    if (FAILED(hr)) return hr;
    std::wstring url;
    hr = BuildServiceUrl(AsServiceItem(items[0]), url);
    if (FAILED(hr)) return hr;
    hr = shortcut->SetURL(url.c_str(), IURL_SETURL_FL_GUESS_PROTOCOL);
    if (FAILED(hr)) return hr;
    return shortcut->QueryInterface(iid, out);
}
