// The folder DLL loaded as the shell loads it: its class object and its unload answer.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <thread>
#include <vector>

#include "folder/CShellFolder.h"

namespace {

// Every test ends with nothing held, so the DLL must be free to unload.
class ServerDll : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll = LoadLibraryW(L"ZeroconfNeighborhood.dll");
        ASSERT_NE(nullptr, m_dll);
        m_canUnloadNow = reinterpret_cast<decltype(m_canUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllCanUnloadNow")));
        m_getClassObject = reinterpret_cast<decltype(m_getClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllGetClassObject")));
        ASSERT_NE(nullptr, m_canUnloadNow);
        ASSERT_NE(nullptr, m_getClassObject);
    }
    void TearDown() override {
        if (!m_dll) return;
        EXPECT_EQ(S_OK, m_canUnloadNow());
        FreeLibrary(m_dll);
    }

    HMODULE m_dll = nullptr;
    HRESULT(WINAPI* m_canUnloadNow)() = nullptr;
    HRESULT(WINAPI* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

TEST_F(ServerDll, CachedFactoryHoldsTheDllWhileHeldOrLocked) {
    EXPECT_EQ(S_OK, m_canUnloadNow());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, m_getClassObject(CLSID_ShellFolder, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    IUnknown* again = nullptr;
    ASSERT_EQ(S_OK, m_getClassObject(CLSID_ShellFolder, IID_IUnknown,
                                     reinterpret_cast<void**>(&again)));
    EXPECT_EQ(static_cast<IUnknown*>(factory), again);  // cached, not made anew
    again->Release();
    factory->Release();
    EXPECT_EQ(S_OK, m_canUnloadNow());

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, m_canUnloadNow());
    // Unbalanced: the count goes below zero, which does not count as unloadable.
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, m_getClassObject(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, m_getClassObject(CLSID_ShellFolder, IID_IClassFactory, nullptr));
}

TEST_F(ServerDll, FactoryFromManyThreadsIsOneObject) {
    std::vector<IClassFactory*> factories(8, nullptr);
    std::vector<std::thread> threads;
    for (IClassFactory*& slot : factories)
        threads.emplace_back([this, &slot] {
            m_getClassObject(CLSID_ShellFolder, IID_IClassFactory, reinterpret_cast<void**>(&slot));
        });
    for (std::thread& thread : threads) thread.join();
    for (IClassFactory* factory : factories) EXPECT_EQ(factories[0], factory);
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    for (IClassFactory* factory : factories) factory->Release();
}

}  // namespace
