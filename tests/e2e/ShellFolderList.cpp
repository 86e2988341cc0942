// Lists the folder through the shell's own namespace, as Explorer reaches it: the desktop
// parses "::{class ID}", binds to the folder and enumerates it. One line per item: its
// display name, a tab and the URL of its Internet Shortcut (empty when none is given).
// Exit code 0 when the folder was reached and enumerated.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <intshcut.h>
#include <isguids.h>

#include <cstdio>

#include "module/ComPtr.h"

namespace {

wchar_t kFolderPath[] = L"::{7AB84743-C00F-461C-A671-C7D161463E51}";

int Fail(const char* step, HRESULT hr) {
    std::fprintf(stderr, "shell-list: %s failed: 0x%08lX\n", step, static_cast<unsigned long>(hr));
    return 1;
}

void PrintUtf8(const wchar_t* text) {
    char bytes[2048];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr) > 0)
        std::fputs(bytes, stdout);
}

void PrintUrl(IShellFolder* folder, PCUITEMID_CHILD item) {
    ComPtr<IUniformResourceLocatorW> shortcut;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IUniformResourceLocatorW, nullptr,
                                     shortcut.PutVoid())))
        return;
    wchar_t* url = nullptr;
    if (SUCCEEDED(shortcut->GetURL(&url)) && url) {
        PrintUtf8(url);
        CoTaskMemFree(url);
    }
}

int List() {
    ComPtr<IShellFolder> desktop;
    HRESULT hr = SHGetDesktopFolder(desktop.Put());
    if (FAILED(hr)) return Fail("SHGetDesktopFolder", hr);
    PIDLIST_RELATIVE folderId = nullptr;
    hr = desktop->ParseDisplayName(nullptr, nullptr, kFolderPath, nullptr, &folderId, nullptr);
    if (FAILED(hr)) return Fail("ParseDisplayName", hr);
    ComPtr<IShellFolder> folder;
    hr = desktop->BindToObject(folderId, nullptr, IID_IShellFolder, folder.PutVoid());
    CoTaskMemFree(folderId);
    if (FAILED(hr)) return Fail("BindToObject", hr);

    ComPtr<IEnumIDList> items;
    hr = folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.Put());
    if (FAILED(hr) || !items) return Fail("EnumObjects", hr);
    PITEMID_CHILD item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
        STRRET name{};
        wchar_t text[MAX_PATH] = L"";
        if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_NORMAL, &name)))
            StrRetToBufW(&name, item, text, MAX_PATH);
        PrintUtf8(text);
        std::fputs("\t", stdout);
        PrintUrl(folder.Get(), item);
        std::fputs("\n", stdout);
        CoTaskMemFree(item);
    }
    return 0;
}

}  // namespace

int wmain() {
    if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize", E_FAIL);
    const int status = List();
    CoUninitialize();
    return status;
}
