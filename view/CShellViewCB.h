// The callback of the platform's folder view: it answers the view's notifications and
// holds only its view's watch, so it lives exactly as long as the view keeps it.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "module/CComObject.h"

class ServiceWatch;

class CShellViewCB : public IShellFolderViewCB, public CComObjectRootEx {
public:
    static const InterfaceMapEntry* InterfaceMap();
    void PreDestroy();

    // A view that says when its window comes and goes, and asks what to listen to, has its
    // watch follow the window and is told of the watch's changes.
    STDMETHODIMP MessageSFVCB(UINT message, WPARAM first, LPARAM second) override;

    ServiceWatch* m_watch = nullptr;  // a reference, or none
};

// The platform call that builds the folder view; tests replace it to make it fail.
using CreateShellFolderViewFunction = HRESULT(WINAPI*)(const SFV_CREATE* create, IShellView** view);
extern CreateShellFolderViewFunction g_createShellFolderView;
