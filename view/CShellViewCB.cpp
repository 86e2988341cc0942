#include "view/CShellViewCB.h"

#include "folder/CShellFolder.h"

namespace {

// The one notification that the folder acknowledges.
constexpr UINT kAcknowledgedMessage = 40;

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

STDMETHODIMP CShellViewCB::MessageSFVCB(UINT message, WPARAM, LPARAM) {
    return message == kAcknowledgedMessage ? S_OK : E_NOTIMPL;
}

// The platform builds its standard view over this folder, with a new callback each time.
STDMETHODIMP CShellFolder::CreateViewObject(HWND, REFIID iid, void** out) {
    if (!IsEqualIID(iid, IID_IShellView)) return E_NOINTERFACE;
    CComObject<CShellViewCB>* callback = nullptr;
    const HRESULT created = CreateObject(&callback);
    if (FAILED(created)) return created;

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
    callback->Release();
    return hr;
}
