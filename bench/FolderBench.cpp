// The folder as Explorer drives it on F5: one load of the DLL, the folder made through its
// class factory, then back-to-back EnumObjects calls, each enumerator drained with Next.
//   folder_bench N [ENUMERATIONS] [path\to\ZeroconfNeighborhood.dll]
// Prints a line per enumeration on stderr and one summary line on stdout:
//   folder N first_items least_items_of_rest min_ms median_ms max_ms
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "module/ComPtr.h"

namespace {

const CLSID kFolderClass = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

int Fail(const char* step, HRESULT hr) {
    std::fprintf(stderr, "folder_bench: %s failed: 0x%08lX\n", step, static_cast<unsigned long>(hr));
    return 1;
}

struct Enumeration {
    size_t items = 0;
    double ms = 0;
};

int Measure(HMODULE dll, int services, int count) {
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (!getClassObject) return Fail("GetProcAddress(DllGetClassObject)", E_NOINTERFACE);
    ComPtr<IClassFactory> factory;
    HRESULT hr = getClassObject(kFolderClass, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return Fail("DllGetClassObject", hr);
    ComPtr<IPersistFolder> persist;
    hr = factory->CreateInstance(nullptr, IID_IPersistFolder, persist.PutVoid());
    if (FAILED(hr)) return Fail("CreateInstance", hr);
    hr = persist->Initialize(nullptr);
    if (FAILED(hr)) return Fail("Initialize", hr);
    ComPtr<IShellFolder> folder;
    hr = persist->QueryInterface(IID_IShellFolder, folder.PutVoid());
    if (FAILED(hr)) return Fail("QueryInterface(IShellFolder)", hr);

    std::vector<Enumeration> runs;
    for (int i = 0; i < count; ++i) {
        Enumeration run;
        ComPtr<IEnumIDList> items;
        const auto start = std::chrono::steady_clock::now();
        hr = folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.Put());
        run.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
        if (FAILED(hr)) return Fail("EnumObjects", hr);
        LPITEMIDLIST item = nullptr;
        while (items->Next(1, &item, nullptr) == S_OK) {
            CoTaskMemFree(item);
            ++run.items;
        }
        std::fprintf(stderr, "enumeration %d: %zu of %d items, %.1f ms\n", i + 1, run.items,
                     services, run.ms);
        runs.push_back(run);
    }
    size_t least = runs.size() > 1 ? runs[1].items : 0;
    for (size_t i = 1; i < runs.size(); ++i) least = std::min(least, runs[i].items);
    std::vector<double> times;
    for (const Enumeration& run : runs) times.push_back(run.ms);
    std::sort(times.begin(), times.end());
    std::printf("folder %d %zu %zu %.1f %.1f %.1f\n", services, runs[0].items, least, times.front(),
                times[times.size() / 2], times.back());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int services = argc > 1 ? _wtoi(argv[1]) : 0;
    const int count = argc > 2 ? std::max(2, _wtoi(argv[2])) : 20;
    const wchar_t* dllPath = argc > 3 ? argv[3] : L"ZeroconfNeighborhood.dll";
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return Fail("CoInitializeEx", hr);
    // Explorer's desktop is up long before the folder is first opened; under Wine the first
    // window of a process starts it, which would take the responders' CPU in the first browse.
    GetDesktopWindow();
    Sleep(1000);
    int result = 1;
    HMODULE dll = LoadLibraryW(dllPath);
    if (!dll) {
        Fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    } else {
        result = Measure(dll, services, count);
        FreeLibrary(dll);
    }
    CoUninitialize();
    std::fflush(stdout);
    return result;
}
