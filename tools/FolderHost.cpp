// Loads the folder DLL as the shell does, or reaches the registered folder through the
// shell namespace as Explorer does, and lists what one enumeration finds:
//   neighborhood-host [path\to\ZeroconfNeighborhood.dll]
//   neighborhood-host --shell
//   neighborhood-host --hold [--lock FILE]
// What Explorer would show: a header, then one line per item with its "Name" column, its
// display name and the URL that opening it would open, then its address, port and stored
// path. Exit code 0 when the folder was enumerated and, when this program loaded the DLL,
// everything was released and the DLL agreed to unload.
// --hold keeps the folder reached through the shell, and so its DLLs, loaded as Explorer
// does once it has shown it: after each listing a line "listed N", then one more listing
// per line read from stdin, until stdin ends. --lock also keeps FILE open with no sharing,
// as a scanner might, so that it can be neither written nor renamed.
#include <windows.h>
#include <shlobj.h>
#include <intshcut.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "discovery/ServiceItemId.h"
#include "module/ComPtr.h"
#include "module/TaskMemPtr.h"
#include "tools/ShellBinding.h"

namespace {

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(WINAPI*)();

template <class Function>
Function Export(HMODULE dll, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

int Fail(const char* step, HRESULT hr) {
    std::fprintf(stderr, "neighborhood-host: %s failed: 0x%08lX\n", step,
                 static_cast<unsigned long>(hr));
    return 1;
}

// Text of a column (the header when `item` is null), freed here.
std::wstring ColumnText(IShellFolder2* folder, LPCITEMIDLIST item) {
    SHELLDETAILS details{};
    if (FAILED(folder->GetDetailsOf(item, 0, &details))) return L"?";
    TaskMemPtr<WCHAR> text(details.str.uType == STRRET_WSTR ? details.str.pOleStr : nullptr);
    return text.Get() ? text.Get() : L"?";
}

std::wstring DisplayName(IShellFolder* folder, LPCITEMIDLIST item) {
    STRRET name{};
    if (FAILED(folder->GetDisplayNameOf(item, SHGDN_NORMAL, &name))) return L"?";
    TaskMemPtr<WCHAR> text(name.uType == STRRET_WSTR ? name.pOleStr : nullptr);
    return text.Get() ? text.Get() : L"?";
}

// The URL that the shortcut object handed out for opening the item holds.
std::wstring OpenedUrl(IShellFolder* folder, LPCITEMIDLIST item) {
    ComPtr<IUniformResourceLocatorW> shortcut;
    if (FAILED(folder->GetUIObjectOf(nullptr, 1, &item, IID_IUniformResourceLocatorW, nullptr,
                                     shortcut.PutVoid())))
        return L"?";
    TaskMemPtr<WCHAR> url;
    if (FAILED(shortcut->GetURL(url.Put())) || !url.Get()) return L"?";
    return url.Get();
}

void PrintItem(IShellFolder2* folder, LPCITEMIDLIST item) {
    const ServiceItemId* service = AsServiceItem(item);
    const uint32_t address = service->address.ipv4Address;
    std::wprintf(L"%ls\t%ls\t%ls\t%u.%u.%u.%u\t%u\t%ls\n", ColumnText(folder, item).c_str(),
                 DisplayName(folder, item).c_str(), OpenedUrl(folder, item).c_str(),
                 (address >> 24) & 0xFF, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                 address & 0xFF, service->address.port, service->path);
}

int ListItems(IShellFolder2* folder, int& count) {
    const DWORD started = GetTickCount();
    ComPtr<IEnumIDList> items;
    HRESULT hr = folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.Put());
    if (FAILED(hr)) return Fail("EnumObjects", hr);
    std::fprintf(stderr, "neighborhood-host: EnumObjects took %lu ms\n",
                 static_cast<unsigned long>(GetTickCount() - started));

    std::wprintf(L"%ls\tdisplay name\tURL\taddress\tport\tpath\n", ColumnText(folder, nullptr).c_str());
    count = 0;
    LPITEMIDLIST item = nullptr;
    while ((hr = items->Next(1, &item, nullptr)) == S_OK) {
        PrintItem(folder, item);
        CoTaskMemFree(item);
        ++count;
    }
    if (FAILED(hr)) return Fail("Next", hr);
    return 0;
}

int ListFromDll(HMODULE dll) {
    auto getClassObject = Export<GetClassObjectFunction>(dll, "DllGetClassObject");
    if (!getClassObject) return Fail("GetProcAddress(DllGetClassObject)", E_NOINTERFACE);

    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(kFolderClass, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return Fail("DllGetClassObject", hr);
    ComPtr<IPersistFolder> persist;
    hr = factory->CreateInstance(nullptr, IID_IPersistFolder, persist.PutVoid());
    if (FAILED(hr)) return Fail("CreateInstance", hr);
    hr = persist->Initialize(nullptr);
    if (FAILED(hr)) return Fail("Initialize", hr);
    ComPtr<IShellFolder2> folder;
    hr = persist->QueryInterface(IID_IShellFolder2, folder.PutVoid());
    if (FAILED(hr)) return Fail("QueryInterface(IShellFolder2)", hr);

    int count = 0;
    return ListItems(folder.Get(), count);
}

int BindThroughShell(ComPtr<IShellFolder2>& folder) {
    const char* step = nullptr;
    const HRESULT hr = BindThroughDesktop(IID_IShellFolder2, folder.PutVoid(), step);
    return FAILED(hr) ? Fail(step, hr) : 0;
}

int ListThroughShell() {
    ComPtr<IShellFolder2> folder;
    int count = 0;
    return BindThroughShell(folder) != 0 ? 1 : ListItems(folder.Get(), count);
}

int Hold(const wchar_t* lockedPath) {
    HANDLE locked = INVALID_HANDLE_VALUE;
    if (lockedPath) {
        locked = CreateFileW(lockedPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (locked == INVALID_HANDLE_VALUE)
            return Fail("CreateFile(--lock)", HRESULT_FROM_WIN32(GetLastError()));
    }
    ComPtr<IShellFolder2> folder;
    int result = BindThroughShell(folder);
    char line[16];
    while (result == 0) {
        int count = 0;
        result = ListItems(folder.Get(), count);
        if (result != 0) break;
        std::wprintf(L"listed %d\n", count);
        std::fflush(stdout);
        if (!std::fgets(line, sizeof(line), stdin)) break;
    }
    if (locked != INVALID_HANDLE_VALUE) CloseHandle(locked);
    return result;
}

// Loads the DLL itself, lists, and asks whether everything was released.
int ListLoadedDll(const wchar_t* path) {
    HMODULE dll = LoadLibraryW(path);
    if (!dll) return Fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    int result = ListFromDll(dll);
    auto canUnloadNow = Export<CanUnloadNowFunction>(dll, "DllCanUnloadNow");
    const HRESULT hr = canUnloadNow ? canUnloadNow() : E_NOINTERFACE;
    if (hr != S_OK) result = Fail("DllCanUnloadNow after releasing everything", hr);
    FreeLibrary(dll);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return Fail("CoInitializeEx", hr);
    const wchar_t* argument = argc > 1 ? argv[1] : L"ZeroconfNeighborhood.dll";
    int result = 0;
    if (std::wcscmp(argument, L"--shell") == 0)
        result = ListThroughShell();
    else if (std::wcscmp(argument, L"--hold") == 0)
        result = Hold(argc > 3 && std::wcscmp(argv[2], L"--lock") == 0 ? argv[3] : nullptr);
    else
        result = ListLoadedDll(argument);
    CoUninitialize();
    std::fflush(stdout);
    return result;
}
