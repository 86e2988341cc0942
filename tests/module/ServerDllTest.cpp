// The folder DLL loaded as the shell loads it: its class object and its unload answer.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <thread>
#include <vector>

#include "folder/CShellFolder.h"

namespace {

TEST(ServerDll, OneCachedFactoryHoldsTheDllWhileHeldOrLocked) {
    const HMODULE dll = LoadLibraryW(L"ZeroconfNeighborhood.dll");
    ASSERT_NE(nullptr, dll);
    const auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    const auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));

    // Threads asking at once get the one factory, made once and cached.
    std::vector<IClassFactory*> factories(8, nullptr);
    std::vector<std::thread> threads;
    for (IClassFactory*& slot : factories)
        threads.emplace_back([getClassObject, &slot] {
            getClassObject(CLSID_ShellFolder, IID_IClassFactory, reinterpret_cast<void**>(&slot));
        });
    for (std::thread& thread : threads) thread.join();
    ASSERT_NE(nullptr, factories[0]);
    for (IClassFactory* factory : factories) EXPECT_EQ(factories[0], factory);
    EXPECT_EQ(S_FALSE, canUnloadNow());
    for (IClassFactory* factory : factories) factory->Release();
    EXPECT_EQ(S_OK, canUnloadNow());

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(S_OK, canUnloadNow());
    FreeLibrary(dll);
}

}  // namespace
