// The watch of an open view, on the scripted library: what the shell is told, and that the
// watch ends with its window or with the folder, leaving no library use or lock behind.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/ServiceItemId.h"
#include "discovery/ServiceWatch.h"
#include "folder/CShellFolder.h"
#include "module/CCorvaneModule.h"
#include "module/CComObject.h"
#include "module/ComPtr.h"
#include "tests/standin/StandIn.h"
#include "view/CShellViewCB.h"

namespace {

// The folder's own list: one item of 6 bytes.
const BYTE kFolderList[] = {6, 0, 'n', 'b', 'h', 'd', 0, 0};

std::mutex g_lock;
std::vector<std::wstring> g_told;  // event, then each item: "4 A:80" (SHCNE_DELETE)

std::wstring Describe(LPCVOID absolute) {
    if (!absolute) return L"";
    if (memcmp(absolute, kFolderList, 6) != 0) return L" not in the folder";
    const ServiceItemId* item = AsServiceItem(ILFindLastID(static_cast<LPCITEMIDLIST>(absolute)));
    return L" " + std::wstring(item->name) + L":" + std::to_wstring(item->address.port);
}

void WINAPI RecordChange(LONG event, UINT flags, LPCVOID first, LPCVOID second) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_told.push_back(flags != SHCNF_IDLIST ? L"flags" : std::to_wstring(event) + Describe(first) + Describe(second));
}

std::vector<IShellFolderViewCB*> g_callbacks;
HRESULT WINAPI KeepCallback(const SFV_CREATE* create, IShellView** view) {
    create->psfvcb->AddRef();
    g_callbacks.push_back(create->psfvcb);
    *view = nullptr;
    return S_OK;
}

// Waits, a bounded while, for the scripted events to play out.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 400 && !condition(); ++i) Sleep(25);
    return condition();
}

size_t Told() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_told.size();
}

// Every start of the library ended: no watch runs.
bool Balanced() {
    const std::string log = StandInCallLog();
    return std::count(log.begin(), log.end(), 'I') == std::count(log.begin(), log.end(), 'F');
}

void Queue(uint32_t type, const wchar_t* name, uint16_t port, uint32_t delayMs) {
    const ServiceAddress address{2, 0xC0000201, port, {}};
    StandInQueueEvent(type, name, &address, "path=/\0", 8, delayMs);
}

// The watch started by the first listing (A, B) tells A leave, C come and B move, once
// each; it ends with its window, and the next one with the folder.
TEST(ServiceWatch, TellsTheViewAndEndsWithItsWindowOrTheFolder) {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    const LONG locksBefore = Module().GetLockCount();
    StandInReset();
    Queue(kDNSBrowserEventTypeResolved, L"A", 80, 0);
    Queue(kDNSBrowserEventTypeResolved, L"B", 80, 0);
    Queue(kDNSBrowserEventTypeRemoved, L"A", 0, 700);
    Queue(kDNSBrowserEventTypeResolved, L"C", 80, 100);
    Queue(kDNSBrowserEventTypeResolved, L"B", 81, 0);
    g_changeNotify = RecordChange;
    g_createShellFolderView = KeepCallback;

    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)));
    ComPtr<IPersistFolder> persist;
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IPersistFolder, persist.PutVoid()));
    ASSERT_EQ(S_OK, persist->Initialize(reinterpret_cast<PCIDLIST_ABSOLUTE>(kFolderList)));
    // A message-only window: the view's owner, without a display.
    const HWND window = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const std::vector<std::wstring> oneView = {L"4 A:80", L"2 C:80", L"4 B:80", L"2 B:81"};
    for (const HWND owner : {window, HWND{}}) {
        SCOPED_TRACE(owner ? "the view with a window" : "the view without");
        void* view = nullptr;
        ASSERT_EQ(S_OK, folder->CreateViewObject(owner, IID_IShellView, &view));
        IEnumIDList* items = nullptr;
        ASSERT_EQ(S_OK, folder->EnumObjects(owner, SHCONTF_NONFOLDERS, &items));
        items->Release();
        EXPECT_TRUE(Eventually([&] { return Told() == oneView.size(); }));
        if (owner) {
            DestroyWindow(owner);
            EXPECT_TRUE(Eventually(Balanced)) << "ended with its window";
        }
        std::lock_guard<std::mutex> guard(g_lock);
        EXPECT_EQ(g_told, oneView);
        g_told.clear();
    }
    PCIDLIST_ABSOLUTE listened = nullptr;
    LONG events = 0;
    EXPECT_EQ(S_OK, g_callbacks[1]->MessageSFVCB(SFVM_GETNOTIFY, reinterpret_cast<WPARAM>(&listened),
                                                 reinterpret_cast<LPARAM>(&events)));
    EXPECT_TRUE(listened && memcmp(listened, kFolderList, sizeof kFolderList) == 0);
    EXPECT_EQ(events, SHCNE_CREATE | SHCNE_DELETE);
    persist.Reset();
    for (IShellFolderViewCB* callback : g_callbacks) callback->Release();
    EXPECT_EQ(0u, folder->Release());
    EXPECT_TRUE(Eventually([&] { return Balanced() && Module().GetLockCount() == locksBefore; }))
        << "ended with the folder";
    EXPECT_EQ(0u, Told());
    g_changeNotify = SHChangeNotify;
    g_createShellFolderView = SHCreateShellFolderView;
    CoUninitialize();
}

}  // namespace
