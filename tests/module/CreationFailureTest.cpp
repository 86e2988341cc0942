// Every creator of the DLL, failing at each step that can fail: the caller gets the
// step's error and a null pointer, and nothing is left behind (no object, no module
// lock, no start of the sockets library, no browse).
#include <winsock2.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <new>

#include "folder/CShellFolder.h"
#include "module/CComClassFactory.h"
#include "module/ComModule.h"
#include "module/CriticalSection.h"
#include "module/StartupCalls.h"
#include "tests/standin/StandIn.h"
#include "view/CEnumIdList.h"

namespace {

// Counts down the object allocations of this program; the one that reaches zero fails.
int g_allocationsBeforeFailure = 0;

}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_allocationsBeforeFailure > 0 && --g_allocationsBeforeFailure == 0) return nullptr;
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

LONG LockCount() { return Module().GetLockCount(); }

// Fails the `nth` object allocation from now on while it lives.
class FailingAllocation {
public:
    explicit FailingAllocation(int nth) { g_allocationsBeforeFailure = nth; }
    ~FailingAllocation() { g_allocationsBeforeFailure = 0; }
};

int g_allocatorRequests = 0;
HRESULT WINAPI RefusedAllocator(IMalloc** allocator) {
    ++g_allocatorRequests;
    *allocator = nullptr;
    return E_ACCESSDENIED;
}

int WINAPI SocketsNotReady(WORD, WSADATA*) { return WSASYSNOTREADY; }

// Grants an older version than asked for, as a system without version 2.0 would.
int WINAPI SocketsOfAnOlderVersion(WORD, WSADATA* data) { return WSAStartup(MAKEWORD(1, 1), data); }

// Puts the real calls back however the test ends.
class StartupCallsGuard {
public:
    ~StartupCallsGuard() {
        g_getShellAllocator = SHGetMalloc;
        g_startSockets = WSAStartup;
        g_initializeLock = InitializeCriticalSectionEx;
    }
};

// True when no start of the sockets library is left over in this process.
bool SocketsUnstarted() { return WSACleanup() == SOCKET_ERROR && WSAGetLastError() == WSANOTINITIALISED; }

HRESULT CreateFolder(REFIID iid, void** out) { return CreateAndQuery<CShellFolder>(nullptr, iid, out); }

TEST(CreationFailure, FolderStartUpUndoesExactlyWhatSucceeded) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    void* out = reinterpret_cast<void*>(1);
    {
        FailingAllocation first(1);
        EXPECT_EQ(E_OUTOFMEMORY, CreateFolder(IID_IShellFolder, &out));
    }
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());

    g_getShellAllocator = RefusedAllocator;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_ACCESSDENIED, CreateFolder(IID_IShellFolder, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());
    EXPECT_TRUE(SocketsUnstarted());
    g_getShellAllocator = SHGetMalloc;

    // A start that failed is not ended: the test's own start stays the only one.
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    g_startSockets = SocketsNotReady;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CreateFolder(IID_IShellFolder, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, WSACleanup());
    EXPECT_TRUE(SocketsUnstarted());

    // A start of the wrong version succeeded, so it is ended.
    g_startSockets = SocketsOfAnOlderVersion;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_FAIL, CreateFolder(IID_IShellFolder, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_TRUE(SocketsUnstarted());
    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, EnumeratorAndCloneCreators) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    CComObject<CEnumIdList>* enumerator = reinterpret_cast<CComObject<CEnumIdList>*>(1);
    g_getShellAllocator = RefusedAllocator;
    EXPECT_EQ(E_ACCESSDENIED, CreateObject(&enumerator));
    EXPECT_EQ(nullptr, enumerator);
    EXPECT_EQ(before, LockCount());
    g_getShellAllocator = SHGetMalloc;
    {
        FailingAllocation first(1);
        enumerator = reinterpret_cast<CComObject<CEnumIdList>*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, CreateObject(&enumerator));
        EXPECT_EQ(nullptr, enumerator);
    }
    EXPECT_EQ(E_POINTER, CreateObject<CEnumIdList>(nullptr));
    EXPECT_EQ(before, LockCount());

    ASSERT_EQ(S_OK, CreateObject(&enumerator));
    enumerator->AddRef();
    enumerator->AttachItems();
    IEnumIDList* clone = reinterpret_cast<IEnumIDList*>(1);
    {
        FailingAllocation first(1);
        EXPECT_EQ(E_OUTOFMEMORY, enumerator->Clone(&clone));
    }
    EXPECT_EQ(nullptr, clone);
    EXPECT_EQ(before + 1, LockCount());
    // The failed clone took no reference to its source: one Release destroys it.
    EXPECT_EQ(0u, enumerator->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, EnumObjectsThatCannotMakeItsEnumeratorRunsNoBrowse) {
    StartupCallsGuard restore;
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, CreateFolder(IID_IShellFolder, reinterpret_cast<void**>(&folder)));
    const LONG withFolder = LockCount();
    StandInReset();

    IEnumIDList* items = reinterpret_cast<IEnumIDList*>(1);
    g_getShellAllocator = RefusedAllocator;
    g_allocatorRequests = 0;
    EXPECT_EQ(E_ACCESSDENIED, folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &items));
    EXPECT_EQ(1, g_allocatorRequests);
    EXPECT_EQ(nullptr, items);
    g_getShellAllocator = SHGetMalloc;
    {
        FailingAllocation first(1);
        items = reinterpret_cast<IEnumIDList*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &items));
        EXPECT_EQ(nullptr, items);
    }
    EXPECT_EQ("", StandInLog());
    EXPECT_EQ(withFolder, LockCount());
    EXPECT_EQ(0u, folder->Release());
}

BOOL WINAPI LockOutOfMemory(CRITICAL_SECTION*, DWORD, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}
BOOL WINAPI LockRefused(CRITICAL_SECTION*, DWORD, DWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// Fails the second lock that is made from now on: the factory's cache lock.
int g_locksBeforeFailure = 0;
BOOL WINAPI SecondLockRefused(CRITICAL_SECTION* lock, DWORD spin, DWORD flags) {
    if (--g_locksBeforeFailure == 0) return LockRefused(lock, spin, flags);
    return InitializeCriticalSectionEx(lock, spin, flags);
}

TEST(CreationFailure, MakeLockNamesTheFailure) {
    StartupCallsGuard restore;
    CRITICAL_SECTION section;
    g_initializeLock = LockOutOfMemory;
    EXPECT_EQ(E_OUTOFMEMORY, MakeLock(&section));
    g_initializeLock = LockRefused;
    EXPECT_EQ(E_FAIL, MakeLock(&section));
}

// A map of its own with the folder's row, so the DLL's own cache is not disturbed.
class PrivateObjectMap {
public:
    PrivateObjectMap()
        : m_row{&CLSID_ShellFolder, nullptr, &CreateClassFactory, &CreateAndQuery<CShellFolder>,
                nullptr, 0, nullptr, nullptr, nullptr},
          m_rows{nullptr, &m_row},
          m_module(ThisImage(), m_rows, m_rows + 2) {}

    ObjectMapEntry m_row;
    ObjectMapEntry* const m_rows[2];
    ComModule m_module;
};

TEST(CreationFailure, FactoryThatCannotBeBuiltIsTriedAgain) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    PrivateObjectMap map;
    void* out = reinterpret_cast<void*>(1);
    {
        FailingAllocation first(1);
        EXPECT_EQ(E_OUTOFMEMORY, map.m_module.GetClassObject(CLSID_ShellFolder, IID_IClassFactory, &out));
    }
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, map.m_row.cachedFactory);

    // Whatever stops a lock, the creator reports no memory: the factory could not be had.
    for (int failingLock : {1, 2}) {
        g_locksBeforeFailure = failingLock;
        g_initializeLock = SecondLockRefused;
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_OUTOFMEMORY, map.m_module.GetClassObject(CLSID_ShellFolder, IID_IClassFactory, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(nullptr, map.m_row.cachedFactory);
    }
    g_initializeLock = InitializeCriticalSectionEx;
    EXPECT_EQ(before, LockCount());

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, map.m_module.GetClassObject(CLSID_ShellFolder, IID_IClassFactory,
                                                reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(static_cast<void*>(map.m_row.cachedFactory), static_cast<void*>(factory));
    // The first outside holder takes the module lock, later ones do not, and the last
    // one to go gives it back; the map's own reference never holds it.
    EXPECT_EQ(before + 1, LockCount());
    EXPECT_EQ(3u, factory->AddRef());
    EXPECT_EQ(before + 1, LockCount());
    EXPECT_EQ(2u, factory->Release());
    EXPECT_EQ(1u, factory->Release());
    EXPECT_EQ(before, LockCount());

    // A face the factory does not have: refused, and the factory stays cached.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, map.m_module.GetClassObject(CLSID_ShellFolder, IID_IShellFolder, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_NE(nullptr, map.m_row.cachedFactory);
    EXPECT_EQ(before, LockCount());
}

}  // namespace

namespace {

TEST(ModuleLoad, LockThatCannotBeMadeRefusesTheLoad) {
    SetLastError(0);
    HMODULE dll = LoadLibraryW(L"RefusingNeighborhood.dll");
    EXPECT_EQ(nullptr, dll);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());
    if (dll) FreeLibrary(dll);
}

}  // namespace
