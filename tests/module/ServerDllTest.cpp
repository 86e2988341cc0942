// The folder DLL loaded as the shell loads it, over the scripted mDNS.dll beside it.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <thread>
#include <vector>

#include "discovery/ServiceItemId.h"
#include "folder/CShellFolder.h"
#include "tests/standin/StandIn.h"

namespace {

// Every test ends with nothing held, so the DLL must be free to unload.
class ServerDll : public ::testing::Test {
protected:
    void SetUp() override {
        StandInReset();
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

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK, m_getClassObject(CLSID_ShellFolder, IID_IClassFactory,
                                         reinterpret_cast<void**>(&factory)));
        return factory;
    }
    // A face of a new folder from the DLL's factory, which is let go at once.
    template <class Face>
    Face* Create(REFIID iid) {
        IClassFactory* factory = Factory();
        Face* face = nullptr;
        if (!factory) return nullptr;
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&face)));
        factory->Release();
        return face;
    }

    HMODULE m_dll = nullptr;
    HRESULT(WINAPI* m_canUnloadNow)() = nullptr;
    HRESULT(WINAPI* m_getClassObject)(REFCLSID, REFIID, void**) = nullptr;
};

TEST_F(ServerDll, CachedFactoryAndUnloadAnswers) {
    EXPECT_EQ(S_OK, m_canUnloadNow());
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    factory->Release();
    EXPECT_EQ(S_OK, m_canUnloadNow());

    IClassFactory* again = Factory();
    EXPECT_EQ(factory, again);  // cached, not made anew
    IUnknown* asUnknown = nullptr;
    EXPECT_EQ(S_OK, m_getClassObject(CLSID_ShellFolder, IID_IUnknown,
                                     reinterpret_cast<void**>(&asUnknown)));
    EXPECT_EQ(static_cast<IUnknown*>(again), asUnknown);
    asUnknown->Release();
    again->Release();

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

TEST_F(ServerDll, LockServerHoldsTheDll) {
    IClassFactory* factory = Factory();
    ASSERT_NE(nullptr, factory);
    factory->Release();

    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, m_canUnloadNow());
    // Unbalanced: the count goes below zero, which does not count as unloadable.
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));

    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IShellFolder,
                                            reinterpret_cast<void**>(&folder)));
    EXPECT_EQ(S_FALSE, m_canUnloadNow());
    EXPECT_EQ(0u, folder->Release());
}

TEST_F(ServerDll, EnumeratesWhatTheBrowseFound) {
    const ServiceAddress address{};
    StandInQueueEvent(30, L"Printer", &address, "", 1, 10);
    StandInQueueEvent(30, L"Camera", &address, "", 1, 10);

    IPersistFolder* persist = Create<IPersistFolder>(IID_IPersistFolder);
    ASSERT_NE(nullptr, persist);
    EXPECT_EQ(S_OK, persist->Initialize(nullptr));
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IShellFolder, reinterpret_cast<void**>(&folder)));
    persist->Release();

    IEnumIDList* items = nullptr;
    EXPECT_EQ(E_POINTER, folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, nullptr));
    EXPECT_EQ("", StandInLog());  // no browse for nowhere to put it
    ASSERT_EQ(S_OK, folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &items));
    EXPECT_EQ("ICSEETRF", StandInLog());
    folder->Release();
    EXPECT_EQ(S_FALSE, m_canUnloadNow());  // the enumerator still lives

    LPITEMIDLIST item[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, items->Next(3, item, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_STREQ(L"Printer", GetServiceName(item[0]));
    EXPECT_STREQ(L"Camera", GetServiceName(item[1]));
    EXPECT_EQ(nullptr, item[2]);
    CoTaskMemFree(item[0]);
    CoTaskMemFree(item[1]);
    EXPECT_EQ(0u, items->Release());
}

TEST_F(ServerDll, SearchThatNeverStartedLeavesAnEmptyEnumerator) {
    StandInFailCall(kCallStart, kDNSBadStateErr, false);
    IShellFolder* folder = Create<IShellFolder>(IID_IShellFolder);
    ASSERT_NE(nullptr, folder);
    IEnumIDList* items = nullptr;
    ASSERT_EQ(S_OK, folder->EnumObjects(nullptr, 0, &items));
    LPITEMIDLIST item = nullptr;
    EXPECT_EQ(E_FAIL, items->Next(1, &item, nullptr));
    EXPECT_EQ(E_FAIL, items->Reset());
    EXPECT_EQ(S_OK, items->Skip(0));
    EXPECT_EQ(E_FAIL, items->Skip(1));
    IEnumIDList* clone = reinterpret_cast<IEnumIDList*>(1);
    EXPECT_EQ(E_FAIL, items->Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    items->Release();
    folder->Release();
}

}  // namespace
