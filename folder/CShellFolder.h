// The virtual folder that the shell binds to: a flat list of the services found by a
// fresh browse each time it is enumerated.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "module/CComObject.h"
#include "module/ComPtr.h"

class ServiceWatch;

// {7AB84743-C00F-461C-A671-C7D161463E51}
extern const CLSID CLSID_ShellFolder;

class CShellFolder : public CComObjectRootEx,
                     public IShellFolder2,
                     public IPersistFolder2,
                     public IPersistIDList {
public:
    static const InterfaceMapEntry* InterfaceMap();
    // The object map's registration function of this class.
    static HRESULT UpdateRegistry(bool registering);

    // Start-up: the shell's allocator and one start of the sockets library, which the
    // address formatting of service URLs needs.
    HRESULT PostConstruct();
    // Ends the sockets start, the watches of its views and frees the folder's own ID list.
    void PreDestroy();

    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND owner, IBindCtx* bindContext, LPWSTR displayName,
                                  ULONG* eaten, PIDLIST_RELATIVE* item, ULONG* attributes) override;
    STDMETHODIMP EnumObjects(HWND owner, SHCONTF flags, IEnumIDList** out) override;
    STDMETHODIMP BindToObject(PCUIDLIST_RELATIVE item, IBindCtx* bindContext, REFIID iid,
                              void** out) override;
    STDMETHODIMP BindToStorage(PCUIDLIST_RELATIVE item, IBindCtx* bindContext, REFIID iid,
                               void** out) override;
    STDMETHODIMP CompareIDs(LPARAM sort, PCUIDLIST_RELATIVE first,
                            PCUIDLIST_RELATIVE second) override;
    STDMETHODIMP CreateViewObject(HWND owner, REFIID iid, void** out) override;
    STDMETHODIMP GetAttributesOf(UINT count, PCUITEMID_CHILD_ARRAY items,
                                 SFGAOF* attributes) override;
    STDMETHODIMP GetUIObjectOf(HWND owner, UINT count, PCUITEMID_CHILD_ARRAY items, REFIID iid,
                               UINT* reserved, void** out) override;
    STDMETHODIMP GetDisplayNameOf(PCUITEMID_CHILD item, SHGDNF flags, STRRET* name) override;
    STDMETHODIMP SetNameOf(HWND owner, PCUITEMID_CHILD item, LPCWSTR name, SHGDNF flags,
                           PITEMID_CHILD* newItem) override;

    // IShellFolder2
    STDMETHODIMP GetDefaultSearchGUID(GUID* guid) override;
    STDMETHODIMP EnumSearches(IEnumExtraSearch** out) override;
    STDMETHODIMP GetDefaultColumn(DWORD reserved, ULONG* sort, ULONG* display) override;
    STDMETHODIMP GetDefaultColumnState(UINT column, SHCOLSTATEF* flags) override;
    STDMETHODIMP GetDetailsEx(PCUITEMID_CHILD item, const SHCOLUMNID* column,
                              VARIANT* value) override;
    STDMETHODIMP GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* details) override;
    STDMETHODIMP MapColumnToSCID(UINT column, SHCOLUMNID* id) override;

    // IPersist, IPersistFolder, IPersistFolder2
    STDMETHODIMP GetClassID(CLSID* classId) override;
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder) override;
    STDMETHODIMP GetCurFolder(PIDLIST_ABSOLUTE* folder) override;

    // IPersistIDList
    STDMETHODIMP SetIDList(PCIDLIST_ABSOLUTE folder) override;
    STDMETHODIMP GetIDList(PIDLIST_ABSOLUTE* folder) override;

protected:
    // A copy made with m_pMalloc; null when there is no memory.
    PIDLIST_ABSOLUTE Duplicate(PCIDLIST_ABSOLUTE list);
    // Keeps a copy of `folder` (none when it is null) in place of the one kept before.
    HRESULT KeepIDList(PCIDLIST_ABSOLUTE folder);
    // A copy of the kept list for the caller, who frees it; S_FALSE and null when none.
    HRESULT CopyIDList(PIDLIST_ABSOLUTE* out);

    ComPtr<IMalloc> m_pMalloc;
    bool m_bWinsockStarted = false;
    // Where the shell put the folder, allocated with m_pMalloc; hosts that were handed
    // the folder as an object ask it back.
    PIDLIST_ABSOLUTE m_pidl = nullptr;

    // One watch per view served (ServiceWatch, discovery/), a reference each; the
    // definitions are in folder/CShellFolderWatches.cpp.
    void ServeView(ServiceWatch* watch);
    ServiceWatch* WatchFor(HWND window);
    void EndWatches();
    std::vector<ServiceWatch*> m_watches;
};
