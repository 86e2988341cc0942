#include "view/CShellViewCB.h"

#include "discovery/ServiceWatch.h"
#include "folder/CShellFolder.h"

namespace {

// The one notification that the folder acknowledges without a watch.
constexpr UINT kAcknowledgedMessage = 40;
// The view's window is about to go (the platform's published number; the headers lack it).
constexpr UINT kWindowDestroy = 16;

}  // namespace

#if !defined(_WIN64)
static_assert(sizeof(SFV_CREATE) == 16, "the 32-bit view record is 16 bytes");
#endif

CreateShellFolderViewFunction g_createShellFolderView = SHCreateShellFolderView;

const InterfaceMapEntry* CShellViewCB::InterfaceMap() {
    static const InterfaceMapEntry table[] = {
        {&IID_IShellFolderViewCB, InterfaceOffset<CShellViewCB, IShellFolderViewCB>()},
        {nullptr, 0},
    };
    return table;
}

void CShellViewCB::PreDestroy() {
    // Not ended here: a view may let its callback go while its window stays; the window's
    // end or the folder's release ends the watch.
    if (m_watch) m_watch->Release();
}

STDMETHODIMP CShellViewCB::MessageSFVCB(UINT message, WPARAM first, LPARAM second) {
    if (message == kAcknowledgedMessage) return S_OK;
    if (!m_watch) return E_NOTIMPL;
    switch (message) {
    case SFVM_WINDOWCREATED:
        m_watch->SetViewWindow(reinterpret_cast<HWND>(first));
        return S_OK;
    case kWindowDestroy:
        m_watch->End();
        return S_OK;
    case SFVM_GETNOTIFY:
        if (!first || !second || !m_watch->Folder()) return E_NOTIMPL;
        *reinterpret_cast<PCIDLIST_ABSOLUTE*>(first) = m_watch->Folder();
        *reinterpret_cast<LONG*>(second) = ServiceWatch::kEvents;
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}

// The platform builds its standard view over this folder, with a new callback each time.
STDMETHODIMP CShellFolder::CreateViewObject(HWND owner, REFIID iid, void** out) {
    if (!IsEqualIID(iid, IID_IShellView)) return E_NOINTERFACE;
    CComObject<CShellViewCB>* callback = nullptr;
    const HRESULT created = CreateObject(&callback);
    if (FAILED(created)) return created;
    // Without memory for a watch the view is served all the same, frozen as before.
    callback->m_watch = ServiceWatch::Create(owner, m_pidl);

    // Held across the call: a view that keeps the callback takes its own reference, one
    // that does not (or a failed call) leaves this one the last, and the release below
    // destroys it.
    callback->AddRef();
    SFV_CREATE create{};
    create.cbSize = sizeof(SFV_CREATE);
    create.pshf = static_cast<IShellFolder*>(this);
    create.psvOuter = nullptr;
    create.psfvcb = callback;
    const HRESULT hr = g_createShellFolderView(&create, reinterpret_cast<IShellView**>(out));
    if (SUCCEEDED(hr) && callback->m_watch) ServeView(callback->m_watch);
    callback->Release();
    return hr;
}
