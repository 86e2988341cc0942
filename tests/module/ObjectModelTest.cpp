// The DLL's objects: faces and counts; a failed creator leaves a null pointer and nothing else.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <shlobj.h>

#include <new>
#include <utility>

#include "folder/CShellFolder.h"
#include "module/BaseModule.h"
#include "module/CComClassFactory.h"
#include "module/ComModule.h"
#include "module/CriticalSection.h"
#include "module/StartupCalls.h"
#include "view/CEnumIdList.h"

// Set to fail the next object allocation of this program.
static bool g_failNextAllocation = false;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (std::exchange(g_failNextAllocation, false)) return nullptr;
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

LONG LockCount() { return Module().GetLockCount(); }

// Grants an older version than asked for, as a system without version 2.0 would.
int WINAPI SocketsOfAnOlderVersion(WORD, WSADATA* data) { return WSAStartup(MAKEWORD(1, 1), data); }

DWORD g_lockError = ERROR_INVALID_PARAMETER;
BOOL WINAPI FailingLock(CRITICAL_SECTION*, DWORD, DWORD) {
    SetLastError(g_lockError);
    return FALSE;
}

// Puts the real calls and the failures' settings back however the test ends.
struct StartupCallsGuard {
    ~StartupCallsGuard() {
        g_failNextAllocation = false;
        g_startSockets = WSAStartup;
        g_initializeLock = InitializeCriticalSectionEx;
    }
};

// True when no start of the sockets library is left over in this process.
bool SocketsUnstarted() { return WSACleanup() == SOCKET_ERROR && WSAGetLastError() == WSANOTINITIALISED; }

HRESULT CreateFolder(REFIID iid, void** out) { return CreateAndQuery<CShellFolder>(nullptr, iid, out); }

TEST(CreationFailure, CreatorsUndoExactlyWhatSucceeded) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    // Each folder its own start of the sockets library, ended in either order; one identity.
    for (int first : {0, 1}) {
        IUnknown* folders[2] = {};
        for (IUnknown*& folder : folders)
            ASSERT_EQ(S_OK, CreateFolder(IID_IShellFolder, reinterpret_cast<void**>(&folder)));
        EXPECT_EQ(before + 2, LockCount());
        IUnknown *persist = nullptr, *identity = nullptr;
        ASSERT_EQ(S_OK, folders[0]->QueryInterface(IID_IPersistFolder,
                                                   reinterpret_cast<void**>(&persist)));
        ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
        EXPECT_NE(folders[0], persist);
        EXPECT_EQ(folders[0], identity);
        EXPECT_EQ(2u, identity->Release());
        EXPECT_EQ(1u, persist->Release());
        EXPECT_EQ(0u, folders[first]->Release());
        EXPECT_EQ(0u, folders[1 - first]->Release());
        EXPECT_TRUE(SocketsUnstarted());
    }

    using Creator = HRESULT (*)(void**);
    const Creator folder = [](void** out) { return CreateFolder(IID_IShellFolder, out); };
    const struct {
        const char* what;
        Creator create;
        bool noMemory;
        StartSocketsFunction startSockets;
        HRESULT result;
    } cases[] = {
        {"folder, no memory", folder, true, WSAStartup, E_OUTOFMEMORY},
        // A start of the wrong version succeeded, so it is ended.
        {"folder, old sockets", folder, false, SocketsOfAnOlderVersion, E_FAIL},
        // IPersist is not in the table although IPersistFolder extends it.
        {"folder as IPersist", [](void** out) { return CreateFolder(IID_IPersist, out); }, false,
         WSAStartup, E_NOINTERFACE},
        {"enumerator, no memory",
         [](void** out) { return CreateObject(reinterpret_cast<CComObject<CEnumIdList>**>(out)); },
         true, WSAStartup, E_OUTOFMEMORY},
    };
    for (const auto& c : cases) {
        // The test's own start of the sockets library is the only one left after each case.
        WSADATA data;
        ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
        g_startSockets = c.startSockets;
        g_failNextAllocation = c.noMemory;
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(c.result, c.create(&out)) << c.what;
        EXPECT_EQ(nullptr, out) << c.what;
        EXPECT_EQ(before, LockCount()) << c.what;
        EXPECT_EQ(0, WSACleanup()) << c.what;
        EXPECT_TRUE(SocketsUnstarted()) << c.what;
    }
    EXPECT_EQ(before, LockCount());
}

TEST(CreationFailure, FactoryOrLockThatCannotBeMade) {
    StartupCallsGuard restore;
    const LONG before = LockCount();
    // A map of its own with the folder's row, so the DLL's own cache is not disturbed.
    ObjectMapEntry row{&CLSID_ShellFolder, nullptr, &CreateClassFactory,
                       &CreateAndQuery<CShellFolder>, nullptr, 0, nullptr, nullptr, nullptr};
    ObjectMapEntry* const rows[] = {nullptr, &row};
    ComModule map(ThisImage(), rows, rows + 2);
    // Whatever stops the factory's lock, the creator reports no memory.
    g_initializeLock = FailingLock;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_OUTOFMEMORY, map.GetClassObject(CLSID_ShellFolder, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, row.cachedFactory);
    g_initializeLock = InitializeCriticalSectionEx;

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, map.GetClassObject(CLSID_ShellFolder, IID_IClassFactory,
                                       reinterpret_cast<void**>(&factory)));
    // Only the first outside holder takes the module lock, and the last one gives it back.
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
    EXPECT_EQ(E_NOINTERFACE, map.GetClassObject(CLSID_ShellFolder, IID_IShellFolder, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(before, LockCount());
    // Torn down, as at unload, the map serves nothing.
    map.size = 0;
    EXPECT_EQ(E_UNEXPECTED, map.GetClassObject(CLSID_ShellFolder, IID_IClassFactory, &out));
    map.size = sizeof(ComModule);

    // A lock that cannot be made says why; a start-up record without one refuses the load.
    CRITICAL_SECTION section;
    g_initializeLock = FailingLock;
    for (const auto& [error, result] : {std::pair<DWORD, HRESULT>{ERROR_INVALID_PARAMETER, E_FAIL},
                                        {ERROR_NOT_ENOUGH_MEMORY, E_OUTOFMEMORY}}) {
        g_lockError = error;
        EXPECT_EQ(result, MakeLock(&section));
    }
    g_initFailed = false;
    { BaseModule base(ThisImage()); }
    EXPECT_TRUE(std::exchange(g_initFailed, false));
}

}  // namespace
