// The callback of the platform's folder view: it answers the view's notifications and
// holds nothing, so it lives exactly as long as the view keeps it.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "module/CComObject.h"

class CShellViewCB : public IShellFolderViewCB, public CComObjectRootEx {
public:
    static const InterfaceMapEntry* InterfaceMap();

    STDMETHODIMP MessageSFVCB(UINT message, WPARAM, LPARAM) override;
};

// The platform call that builds the folder view; tests replace it to make it fail.
using CreateShellFolderViewFunction = HRESULT(WINAPI*)(const SFV_CREATE* create, IShellView** view);
extern CreateShellFolderViewFunction g_createShellFolderView;
