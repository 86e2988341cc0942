// The objects of the DLL: their faces and counts, and every creator failing at each step
// that can fail. A failing caller gets the step's error and a null pointer, and nothing is
// left behind (no object, no module lock, no start of the sockets library, no browse).
#include <winsock2.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <new>
#include <vector>

#include "folder/CShellFolder.h"
#include "module/BaseModule.h"
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

// Fails the `nth` object allocation from now on while it lives; none for 0.
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

// Makes the locks before the `g_locksBeforeFailure`th from now, and fails that one and
// every later one with g_lockError.
int g_locksBeforeFailure = 0;
DWORD g_lockError = ERROR_INVALID_PARAMETER;
BOOL WINAPI FailingLock(CRITICAL_SECTION* lock, DWORD spin, DWORD flags) {
    if (--g_locksBeforeFailure > 0) return InitializeCriticalSectionEx(lock, spin, flags);
    SetLastError(g_lockError);
    return FALSE;
}

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

template <class Face>
HRESULT CreateFolder(REFIID iid, Face** out) {
    return CreateAndQuery<CShellFolder>(nullptr, iid, reinterpret_cast<void**>(out));
}

TEST(ObjectModel, FolderFacesShareOneIdentityAndCount) {
    const LONG before = LockCount();
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, CreateFolder(IID_IShellFolder, &folder));
    EXPECT_EQ(before + 1, LockCount());
    IPersistFolder* persist = nullptr;
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IPersistFolder, reinterpret_cast<void**>(&persist)));
    EXPECT_NE(static_cast<void*>(folder), static_cast<void*>(persist));
    std::vector<IUnknown*> faces{persist};
    for (IUnknown* from : {static_cast<IUnknown*>(folder), static_cast<IUnknown*>(persist)})
        for (const IID* iid : {&IID_IShellFolder2, &IID_IUnknown}) {
            void* face = nullptr;
            ASSERT_EQ(S_OK, from->QueryInterface(*iid, &face));
            EXPECT_EQ(static_cast<void*>(folder), face);
            faces.push_back(static_cast<IUnknown*>(face));
        }

    // IPersist is not in the table although IPersistFolder extends it.
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, folder->QueryInterface(IID_IPersist, &refused));
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(E_POINTER, folder->QueryInterface(IID_IShellFolder, nullptr));

    // Five successful queries above, each exactly one reference.
    EXPECT_EQ(7u, folder->AddRef());
    EXPECT_EQ(6u, persist->Release());
    for (IUnknown* face : faces) face->Release();
    EXPECT_EQ(0u, folder->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, CreatorsUndoExactlyWhatSucceeded) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    // Each folder holds its own start of the sockets library: after both are gone in
    // either order, no start is left over.
    for (bool firstGoesFirst : {true, false}) {
        IUnknown* first = nullptr;
        IUnknown* second = nullptr;
        ASSERT_EQ(S_OK, CreateFolder(IID_IUnknown, &first));
        ASSERT_EQ(S_OK, CreateFolder(IID_IUnknown, &second));
        (firstGoesFirst ? first : second)->Release();
        (firstGoesFirst ? second : first)->Release();
        EXPECT_TRUE(SocketsUnstarted());
    }

    using Creator = HRESULT (*)(void**);
    const Creator folder = [](void** out) { return CreateFolder(IID_IShellFolder, out); };
    const Creator enumerator = [](void** out) {
        return CreateObject(reinterpret_cast<CComObject<CEnumIdList>**>(out));
    };
    const struct {
        const char* what;
        Creator create;
        int failingAllocation;
        GetShellAllocatorFunction allocator;
        StartSocketsFunction startSockets;
        HRESULT result;
    } cases[] = {
        {"folder, no memory", folder, 1, SHGetMalloc, WSAStartup, E_OUTOFMEMORY},
        {"folder, no allocator", folder, 0, RefusedAllocator, WSAStartup, E_ACCESSDENIED},
        // A start that failed is not ended.
        {"folder, no sockets", folder, 0, SHGetMalloc, SocketsNotReady, E_FAIL},
        // A start of the wrong version succeeded, so it is ended.
        {"folder, old sockets", folder, 0, SHGetMalloc, SocketsOfAnOlderVersion, E_FAIL},
        {"folder as IPersist", [](void** out) { return CreateFolder(IID_IPersist, out); }, 0,
         SHGetMalloc, WSAStartup, E_NOINTERFACE},
        {"aggregated folder",
         [](void** out) {
             return CreateAndQuery<CShellFolder>(reinterpret_cast<IUnknown*>(0x1000), IID_IUnknown, out);
         },
         0, SHGetMalloc, WSAStartup, CLASS_E_NOAGGREGATION},
        {"enumerator, no memory", enumerator, 1, SHGetMalloc, WSAStartup, E_OUTOFMEMORY},
        {"enumerator, no allocator", enumerator, 0, RefusedAllocator, WSAStartup, E_ACCESSDENIED},
    };
    for (const auto& c : cases) {
        // The test's own start of the sockets library is the only one left after each case.
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        g_getShellAllocator = c.allocator;
        g_startSockets = c.startSockets;
        void* out = reinterpret_cast<void*>(1);
        {
            FailingAllocation failing(c.failingAllocation);
            EXPECT_EQ(c.result, c.create(&out)) << c.what;
        }
        EXPECT_EQ(nullptr, out) << c.what;
        EXPECT_EQ(before, LockCount()) << c.what;
        EXPECT_EQ(0, WSACleanup()) << c.what;
        EXPECT_TRUE(SocketsUnstarted()) << c.what;
    }
    EXPECT_EQ(E_POINTER, CreateAndQuery<CShellFolder>(reinterpret_cast<IUnknown*>(0x1000),
                                                      IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, CreateFolder<void>(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, CreateObject<CEnumIdList>(nullptr));

    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, FailedCloneTakesNoReference) {
    const LONG before = LockCount();
    CComObject<CEnumIdList>* enumerator = nullptr;
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
    // One Release destroys the source.
    EXPECT_EQ(0u, enumerator->Release());
    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, EnumObjectsThatCannotMakeItsEnumeratorRunsNoBrowse) {
    StartupCallsGuard restore;
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, CreateFolder(IID_IShellFolder, &folder));
    const LONG withFolder = LockCount();
    StandInReset();
    for (bool allocatorRefused : {true, false}) {
        g_getShellAllocator = allocatorRefused ? RefusedAllocator : SHGetMalloc;
        g_allocatorRequests = 0;
        FailingAllocation failing(allocatorRefused ? 0 : 1);
        IEnumIDList* items = reinterpret_cast<IEnumIDList*>(1);
        EXPECT_EQ(allocatorRefused ? E_ACCESSDENIED : E_OUTOFMEMORY,
                  folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &items));
        EXPECT_EQ(allocatorRefused ? 1 : 0, g_allocatorRequests);
        EXPECT_EQ(nullptr, items);
    }
    EXPECT_EQ("", StandInLog());
    EXPECT_EQ(withFolder, LockCount());
    EXPECT_EQ(0u, folder->Release());
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
    void* out = nullptr;
    // The factory's allocation, or either of its locks: whatever stops a lock, the
    // creator reports no memory, as the factory could not be had.
    for (const auto& [allocation, lock] : std::initializer_list<std::pair<int, int>>{{1, 0}, {0, 1}, {0, 2}}) {
        FailingAllocation failing(allocation);
        g_locksBeforeFailure = lock;
        g_lockError = ERROR_INVALID_PARAMETER;
        g_initializeLock = lock ? FailingLock : InitializeCriticalSectionEx;
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
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(before + 2, LockCount());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
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

TEST(ModuleRecords, LockThatCannotBeMadeRefusesTheLoad) {
    StartupCallsGuard restore;
    CRITICAL_SECTION section;
    g_initializeLock = FailingLock;
    g_locksBeforeFailure = 0;
    EXPECT_EQ(E_FAIL, MakeLock(&section));
    g_lockError = ERROR_NOT_ENOUGH_MEMORY;
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

    // The DLL's entry point over a lock initialiser that always fails.
    SetLastError(0);
    HMODULE dll = LoadLibraryW(L"RefusingNeighborhood.dll");
    EXPECT_EQ(nullptr, dll);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());
    if (dll) FreeLibrary(dll);
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
