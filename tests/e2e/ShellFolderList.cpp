// Lists the folder through the shell's own namespace, as Explorer reaches it: the desktop
// parses "::{class ID}", binds to the folder and enumerates it. One line per item: its
// display name, a tab and the URL of its Internet Shortcut (empty when none is given).
// Exit code 0 when the folder was reached and enumerated.
//   shell-list [--hold [--lock FILE]]
// --hold keeps the folder, and so its DLLs, loaded as Explorer does once it has shown it:
// after each listing a line "listed N", then one more listing per line read from stdin,
// until stdin ends. --lock also keeps FILE open with no sharing, as a scanner might, so
// that it can be neither written nor renamed.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <intshcut.h>
#include <isguids.h>

#include <cstdio>
#include <cwchar>

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

int Bind(ComPtr<IShellFolder>& folder) {
    ComPtr<IShellFolder> desktop;
    HRESULT hr = SHGetDesktopFolder(desktop.Put());
    if (FAILED(hr)) return Fail("SHGetDesktopFolder", hr);
    PIDLIST_RELATIVE folderId = nullptr;
    hr = desktop->ParseDisplayName(nullptr, nullptr, kFolderPath, nullptr, &folderId, nullptr);
    if (FAILED(hr)) return Fail("ParseDisplayName", hr);
    hr = desktop->BindToObject(folderId, nullptr, IID_IShellFolder, folder.PutVoid());
    CoTaskMemFree(folderId);
    if (FAILED(hr)) return Fail("BindToObject", hr);
    return 0;
}

// Prints the items; -1 when the folder could not be enumerated.
int List(IShellFolder* folder) {
    ComPtr<IEnumIDList> items;
    HRESULT hr = folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.Put());
    if (FAILED(hr) || !items) return -Fail("EnumObjects", hr);
    int count = 0;
    PITEMID_CHILD item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
        STRRET name{};
        wchar_t text[MAX_PATH] = L"";
        if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_NORMAL, &name)))
            StrRetToBufW(&name, item, text, MAX_PATH);
        PrintUtf8(text);
        std::fputs("\t", stdout);
        PrintUrl(folder, item);
        std::fputs("\n", stdout);
        CoTaskMemFree(item);
        ++count;
    }
    return count;
}

int Hold(IShellFolder* folder) {
    char line[16];
    do {
        const int count = List(folder);
        if (count < 0) return 1;
        std::printf("listed %d\n", count);
        std::fflush(stdout);
    } while (std::fgets(line, sizeof(line), stdin));
    return 0;
}

int Run(int argc, wchar_t** argv) {
    const bool hold = argc > 1 && std::wcscmp(argv[1], L"--hold") == 0;
    HANDLE locked = INVALID_HANDLE_VALUE;
    if (hold && argc > 3 && std::wcscmp(argv[2], L"--lock") == 0) {
        locked = CreateFileW(argv[3], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
        if (locked == INVALID_HANDLE_VALUE)
            return Fail("CreateFile(--lock)", HRESULT_FROM_WIN32(GetLastError()));
    }
    ComPtr<IShellFolder> folder;
    int status = Bind(folder);
    if (status == 0) status = hold ? Hold(folder.Get()) : (List(folder.Get()) < 0 ? 1 : 0);
    if (locked != INVALID_HANDLE_VALUE) CloseHandle(locked);
    return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize", E_FAIL);
    const int status = Run(argc, argv);
    CoUninitialize();
    return status;
}
