#include <winsock2.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include "folder/CShellFolder.h"
#include "module/BaseModule.h"
#include "module/CComObject.h"
#include "module/ComModule.h"
#include "module/CriticalSection.h"

namespace {

LONG LockCount() { return Module().GetLockCount(); }

TEST(ObjectModel, FolderFacesShareOneIdentityAndCount) {
    const LONG before = LockCount();
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, (CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder,
                                                  reinterpret_cast<void**>(&folder))));
    EXPECT_EQ(before + 1, LockCount());

    IShellFolder2* folder2 = nullptr;
    IPersistFolder* persist = nullptr;
    IUnknown* identity = nullptr;
    IUnknown* identityFromPersist = nullptr;
    IShellFolder2* backToPrimary = nullptr;
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IShellFolder2, reinterpret_cast<void**>(&folder2)));
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IPersistFolder, reinterpret_cast<void**>(&persist)));
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown,
                                            reinterpret_cast<void**>(&identityFromPersist)));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IShellFolder2,
                                            reinterpret_cast<void**>(&backToPrimary)));
    EXPECT_EQ(static_cast<void*>(folder), static_cast<void*>(folder2));
    EXPECT_EQ(static_cast<void*>(folder), static_cast<void*>(identity));
    EXPECT_EQ(identity, identityFromPersist);
    EXPECT_EQ(static_cast<void*>(folder), static_cast<void*>(backToPrimary));
    EXPECT_NE(static_cast<void*>(folder), static_cast<void*>(persist));

    // IPersist is not in the table although IPersistFolder extends it.
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, folder->QueryInterface(IID_IPersist, &refused));
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(E_POINTER, folder->QueryInterface(IID_IShellFolder, nullptr));

    // Five successful queries above, each exactly one reference.
    EXPECT_EQ(7u, folder->AddRef());
    EXPECT_EQ(6u, persist->Release());
    for (IUnknown* face : {static_cast<IUnknown*>(folder2), identity, identityFromPersist,
                           static_cast<IUnknown*>(backToPrimary), static_cast<IUnknown*>(persist)})
        face->Release();
    EXPECT_EQ(0u, folder->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(ObjectModel, FolderPersistFaceAndIdleOperations) {
    IPersistFolder* persist = nullptr;
    ASSERT_EQ(S_OK, (CreateAndQuery<CShellFolder>(nullptr, IID_IPersistFolder,
                                                  reinterpret_cast<void**>(&persist))));
    CLSID classId{};
    EXPECT_EQ(S_OK, persist->GetClassID(&classId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ShellFolder, classId));
    EXPECT_EQ(E_INVALIDARG, persist->GetClassID(nullptr));
    EXPECT_EQ(S_OK, persist->Initialize(nullptr));
    EXPECT_EQ(S_OK, persist->Initialize(nullptr));

    IShellFolder2* folder = nullptr;
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IShellFolder2, reinterpret_cast<void**>(&folder)));
    // Out-parameters keep what the caller put there.
    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    PIDLIST_RELATIVE parsed = reinterpret_cast<PIDLIST_RELATIVE>(untouched);
    GUID guid = CLSID_ShellFolder;
    IEnumExtraSearch* searches = reinterpret_cast<IEnumExtraSearch*>(untouched);
    EXPECT_EQ(E_NOTIMPL, folder->BindToObject(nullptr, nullptr, IID_IShellFolder, &out));
    EXPECT_EQ(E_NOTIMPL, folder->BindToStorage(nullptr, nullptr, IID_IStream, &out));
    EXPECT_EQ(E_NOTIMPL, folder->ParseDisplayName(nullptr, nullptr, nullptr, nullptr, &parsed,
                                                  nullptr));
    EXPECT_EQ(E_NOTIMPL, folder->GetDefaultSearchGUID(&guid));
    EXPECT_EQ(E_NOTIMPL, folder->EnumSearches(&searches));
    EXPECT_EQ(untouched, out);
    EXPECT_EQ(untouched, static_cast<void*>(parsed));
    EXPECT_TRUE(IsEqualGUID(CLSID_ShellFolder, guid));
    EXPECT_EQ(untouched, static_cast<void*>(searches));
    folder->Release();
    EXPECT_EQ(0u, persist->Release());
}

TEST(ObjectModel, FailedCreationLeavesNothingBehind) {
    const LONG before = LockCount();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, CreateAndQuery<CShellFolder>(nullptr, IID_IPersist, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());

    IUnknown* outer = reinterpret_cast<IUnknown*>(0x1000);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CreateAndQuery<CShellFolder>(outer, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, CreateAndQuery<CShellFolder>(outer, IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, CreateAndQuery<CShellFolder>(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(before, LockCount());

    // Each folder holds its own start of the sockets library: after both are gone in
    // either order, no start is left over and a fresh start is the first one again.
    for (bool firstGoesFirst : {true, false}) {
        IUnknown* first = nullptr;
        IUnknown* second = nullptr;
        ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IUnknown,
                                                     reinterpret_cast<void**>(&first)));
        ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IUnknown,
                                                     reinterpret_cast<void**>(&second)));
        (firstGoesFirst ? first : second)->Release();
        (firstGoesFirst ? second : first)->Release();
    }
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
    EXPECT_EQ(WSANOTINITIALISED, WSAGetLastError());
    EXPECT_EQ(before, LockCount());
}

TEST(ObjectModel, QueryInterfaceFromTableChecksItsArguments) {
    const InterfaceMapEntry table[] = {{&IID_IClassFactory, 0}, {nullptr, 0}};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_INVALIDARG, QueryInterfaceFromTable(nullptr, table, IID_IUnknown, &out));
    EXPECT_EQ(E_INVALIDARG, QueryInterfaceFromTable(&out, nullptr, IID_IUnknown, &out));
    EXPECT_EQ(E_INVALIDARG, QueryInterfaceFromTable(nullptr, table, IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, QueryInterfaceFromTable(&out, table, IID_IUnknown, nullptr));
    EXPECT_EQ(reinterpret_cast<void*>(1), out);
}

// A start-up record whose lock cannot be made marks the load as refused.
BOOL WINAPI FailingInitialize(CRITICAL_SECTION*, DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

TEST(ModuleRecords, LockThatCannotBeMadeRefusesTheLoad) {
    CRITICAL_SECTION section;
    g_initializeLock = FailingInitialize;
    EXPECT_EQ(E_OUTOFMEMORY, MakeLock(&section));
    {
        g_initFailed = false;
        BaseModule base(ThisImage());
        EXPECT_TRUE(g_initFailed);
        g_initFailed = false;
        ComModule com(ThisImage(), nullptr, nullptr);
        EXPECT_TRUE(g_initFailed);
        EXPECT_NE(0u, com.size);
    }
    g_initializeLock = InitializeCriticalSectionEx;
    g_initFailed = false;
    EXPECT_EQ(S_OK, MakeLock(&section));
    DeleteCriticalSection(&section);
}

TEST(ModuleRecords, TerminatedObjectMapServesNothing) {
    ComModule com(ThisImage(), nullptr, nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, com.GetClassObject(CLSID_ShellFolder, IID_IUnknown, &out));
    EXPECT_EQ(nullptr, out);
    com.size = 0;  // as after the tear-down at unload
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_UNEXPECTED, com.GetClassObject(CLSID_ShellFolder, IID_IUnknown, &out));
    EXPECT_EQ(reinterpret_cast<void*>(1), out);
}

}  // namespace
