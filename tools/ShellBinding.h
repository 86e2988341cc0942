// The registered folder reached as the shell reaches it: its class as the registry names
// it, parsed and bound by the desktop.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "module/ComPtr.h"

// The folder class, as the shell knows it from the registry.
inline constexpr CLSID kFolderClass = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

// On failure `step` names the call that failed.
inline HRESULT BindThroughDesktop(REFIID iid, void** folder, const char*& step) {
    ComPtr<IShellFolder> desktop;
    step = "SHGetDesktopFolder";
    HRESULT hr = SHGetDesktopFolder(desktop.Put());
    if (FAILED(hr)) return hr;
    wchar_t path[2 + 39] = L"::";
    StringFromGUID2(kFolderClass, path + 2, 39);
    PIDLIST_RELATIVE id = nullptr;
    step = "ParseDisplayName";
    hr = desktop->ParseDisplayName(nullptr, nullptr, path, nullptr, &id, nullptr);
    if (FAILED(hr)) return hr;
    step = "BindToObject";
    hr = desktop->BindToObject(id, nullptr, iid, folder);
    CoTaskMemFree(id);
    return hr;
}
