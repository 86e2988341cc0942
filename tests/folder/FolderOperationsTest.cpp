#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>
#include <intshcut.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/ServiceItemId.h"
#include "discovery/ServiceUrl.h"
#include "folder/CShellFolder.h"
#include "module/ComPtr.h"
#include "module/StartupCalls.h"
#include "module/TaskMemPtr.h"
#include "tests/support/CountingAllocator.h"
#include "view/CShellViewCB.h"

namespace {

constexpr HRESULT kBefore = 0x0000FFFF;
constexpr HRESULT kAfter = 0x00000001;
constexpr HRESULT kSame = 0x00000000;

using Item = TaskMemPtr<ITEMIDLIST>;

Item MakeItem(const std::wstring& name, uint32_t ipv4 = 0xC0000201, uint16_t port = 80,
              const std::wstring& path = L"/") {
    const ServiceAddress address{2, ipv4, port, {}};
    LPITEMIDLIST item = nullptr;
    EXPECT_EQ(S_OK, CreateServiceItemId(name.c_str(), &address, path.c_str(), &item));
    return Item(item);
}

// Damages a stored 127-unit name as the shell may hand it back: no zero unit, text after.
void LoseNameEnd(const Item& item) {
    auto* damaged = reinterpret_cast<ServiceItemId*>(item.Get());
    damaged->name[kServiceNameUnits - 1] = L'x';
    std::memset(damaged->padding, 'A', sizeof(damaged->padding));
}

// A live folder, made as the class factory makes it; once it goes, no object of it is left.
class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_locksBefore = Module().GetLockCount();
        g_allocator.live.clear();
        g_getShellAllocator = GiveCountingAllocator;
        ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder2,
                                                     reinterpret_cast<void**>(&m_folder)));
        g_getShellAllocator = SHGetMalloc;
    }
    void TearDown() override {
        EXPECT_EQ(0u, m_folder ? m_folder->Release() : 0u);
        EXPECT_EQ(m_locksBefore, Module().GetLockCount());
        CoUninitialize();
    }

    LONG m_locksBefore = 0;
    IShellFolder2* m_folder = nullptr;
};

// Every way of asking for an item's name gives its instance name, whatever the flags.
TEST_F(FolderTest, EveryNameIsTheInstanceName) {
    SHCOLUMNID id{};
    ASSERT_EQ(S_OK, m_folder->MapColumnToSCID(0, &id));
    const std::wstring longest = L"caf\u00e9 \U0001F600" + std::wstring(120, L'n');
    for (const std::wstring& name : {std::wstring(), longest}) {
        const Item item = MakeItem(name);
        // The longest name, in a stored item that lost its zero unit: read no further.
        if (name == longest) LoseNameEnd(item);
        STRRET text{};
        ASSERT_EQ(S_OK, m_folder->GetDisplayNameOf(item.Get(), SHGDN_FORPARSING, &text));
        ASSERT_EQ(static_cast<UINT>(STRRET_WSTR), text.uType);
        EXPECT_EQ(name, TaskMemPtr<WCHAR>(text.pOleStr).Get());
        SHELLDETAILS details{};
        ASSERT_EQ(S_OK, m_folder->GetDetailsOf(item.Get(), 0, &details));
        EXPECT_EQ(name, TaskMemPtr<WCHAR>(details.str.pOleStr).Get());
        VARIANT value;
        VariantInit(&value);
        ASSERT_EQ(S_OK, m_folder->GetDetailsEx(item.Get(), &id, &value));
        ASSERT_EQ(VT_BSTR, value.vt);
        EXPECT_EQ(name, value.bstrVal);
        VariantClear(&value);
    }
    // No item asks for the header of the one column.
    SHELLDETAILS header{};
    ASSERT_EQ(S_OK, m_folder->GetDetailsOf(nullptr, 0, &header));
    EXPECT_STREQ(L"Name", TaskMemPtr<WCHAR>(header.str.pOleStr).Get());
}

TEST_F(FolderTest, OrderIsExactCodeUnitOrder) {
    const struct {
        const wchar_t* first;
        const wchar_t* second;
        HRESULT expected;
    } cases[] = {
        {L"Printer", L"printer", kBefore},  // 'P' 0x50 below 'p' 0x70
        {L"Printer", L"Printer 2nd floor", kBefore},
        {L"a\u8000", L"az", kAfter},  // a unit at or above 0x8000 is large, not negative
        {L"same", L"same", kSame},
        {L"10", L"9", kBefore},  // no natural ordering of digits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const Item first = MakeItem(c.first), second = MakeItem(c.second);
        for (LPARAM sort : {LPARAM(0), LPARAM(SHCIDS_CANONICALONLY | 1)})
            EXPECT_EQ(c.expected, m_folder->CompareIDs(sort, first.Get(), second.Get()));
    }
    const std::wstring name127(127, L'n');
    const Item damaged = MakeItem(name127), whole = MakeItem(name127);
    LoseNameEnd(damaged);
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, damaged.Get(), whole.Get()));
    // Only names take part: other addresses, ports and paths still compare equal.
    const Item here = MakeItem(L"Web", 0xC0000201, 80, L"/a");
    const Item there = MakeItem(L"Web", 0xC6336401, 8080, L"/b");
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, here.Get(), there.Get()));
}

// A call that cannot be answered fails: a shortcut's answer is left alone, a refused face null.
TEST_F(FolderTest, UnanswerableCallsFail) {
    const Item item = MakeItem(L"Printer");
    PCUITEMID_CHILD items[] = {item.Get(), item.Get()};
    void *untouched = &untouched, *refused = &refused;
    IShellFolder2* const f = m_folder;
    EXPECT_EQ(E_POINTER, f->EnumObjects(nullptr, SHCONTF_NONFOLDERS, nullptr));
    // One shortcut opens one item: several at once get none.
    EXPECT_EQ(E_FAIL, f->GetUIObjectOf(nullptr, 2, items, IID_IUnknown, nullptr, &untouched));
    EXPECT_EQ(&untouched, untouched);
    EXPECT_EQ(E_NOINTERFACE, f->GetUIObjectOf(nullptr, 1, items, IID_IShellFolder, nullptr, &refused));
    EXPECT_EQ(nullptr, refused);
    // Items are never folders, links, renamable or deletable.
    SFGAOF attributes = ~SFGAOF(0);
    EXPECT_EQ(S_OK, f->GetAttributesOf(1, items, &attributes));
    EXPECT_EQ(0u, attributes);
}

// Opening an item gets a new Internet Shortcut to its URL each time, the caller's alone.
TEST_F(FolderTest, OpeningAnItemHandsOutAShortcutToItsUrl) {
    const Item item = MakeItem(L"Printer", 0xC0000201, 631, L"printers/a b");
    PCUITEMID_CHILD items[] = {item.Get()};
    IUniformResourceLocatorW* shortcuts[2] = {};
    for (IUniformResourceLocatorW*& shortcut : shortcuts) {
        ASSERT_EQ(S_OK, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUniformResourceLocatorW,
                                                nullptr, reinterpret_cast<void**>(&shortcut)));
        TaskMemPtr<WCHAR> url;
        ASSERT_EQ(S_OK, shortcut->GetURL(url.Put()));
        EXPECT_STREQ(L"http://192.0.2.1:631/printers/a%20b", url.Get());
    }
    EXPECT_NE(shortcuts[0], shortcuts[1]);
    for (IUniformResourceLocatorW* shortcut : shortcuts) EXPECT_EQ(0u, shortcut->Release());
}

// Records what the folder hands the platform, then lets it build the view. Windows' view
// keeps the callback for its life (Wine's does not): the reference taken here stands in.
std::vector<SFV_CREATE> g_requests;
HRESULT g_forcedFailure = S_OK;

HRESULT WINAPI RecordingCreateView(const SFV_CREATE* create, IShellView** view) {
    g_requests.push_back(*create);
    if (FAILED(g_forcedFailure)) return g_forcedFailure;
    create->psfvcb->AddRef();
    return SHCreateShellFolderView(create, view);
}

// A callback dies with its view's last release, or with the call when the view fails; no
// other interface makes one. A callback acknowledges one notification only.
TEST_F(FolderTest, EachViewGetsItsOwnCallbackThatLivesNoLongerThanItsHolders) {
    g_requests.clear();
    g_createShellFolderView = RecordingCreateView;
    IShellView* views[2] = {};
    for (IShellView*& view : views) {
        ASSERT_EQ(S_OK, m_folder->CreateViewObject(nullptr, IID_IShellView,
                                                   reinterpret_cast<void**>(&view)));
    }
    g_forcedFailure = E_ACCESSDENIED;
    void* out = nullptr;
    EXPECT_EQ(E_ACCESSDENIED, m_folder->CreateViewObject(nullptr, IID_IShellView, &out));
    EXPECT_EQ(E_NOINTERFACE, m_folder->CreateViewObject(nullptr, IID_IUnknown, &out));
    g_forcedFailure = S_OK;
    g_createShellFolderView = SHCreateShellFolderView;
    ASSERT_EQ(3u, g_requests.size());
    EXPECT_EQ(sizeof(SFV_CREATE), g_requests[0].cbSize);
    EXPECT_EQ(static_cast<void*>(m_folder), static_cast<void*>(g_requests[0].pshf));
    EXPECT_NE(g_requests[0].psfvcb, g_requests[1].psfvcb);
    for (UINT message : {0u, 39u, 40u, 41u, 0xFFFFFFFFu}) {
        const HRESULT acknowledged = message == 40 ? S_OK : E_NOTIMPL;
        EXPECT_EQ(acknowledged, g_requests[0].psfvcb->MessageSFVCB(message, 1, 2));
    }
    for (IShellView* view : views) view->Release();
    for (int kept : {0, 1}) EXPECT_EQ(0u, g_requests[kept].psfvcb->Release());
}

// Asked where it is, through either interface, the folder answers a copy of the list it was
// last given, and frees its own when it goes.
TEST_F(FolderTest, AnswersCopiesOfTheListItWasGiven) {
    ComPtr<IPersistFolder2> persistFolder;
    ComPtr<IPersistIDList> persistList;
    ASSERT_EQ(S_OK, m_folder->QueryInterface(IID_IPersistFolder2, persistFolder.PutVoid()));
    ASSERT_EQ(S_OK, m_folder->QueryInterface(IID_IPersistIDList, persistList.PutVoid()));

    const Item first = MakeItem(L"First"), second = MakeItem(L"Second place");
    const struct {
        bool setIDList;  // else Initialize
        const Item* list;
        HRESULT answer;
    } cases[] = {
        {false, &first, S_OK},
        {true, &second, S_OK},
        {false, nullptr, S_FALSE},
        {false, &first, S_OK},  // kept to the folder's end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const PCIDLIST_ABSOLUTE list = c.list ? c.list->Get() : nullptr;
        EXPECT_EQ(S_OK, c.setIDList ? persistList->SetIDList(list) : persistFolder->Initialize(list));
        // Asked through each interface in turn.
        PIDLIST_ABSOLUTE answer = reinterpret_cast<PIDLIST_ABSOLUTE>(1);
        EXPECT_EQ(c.answer, (&c - cases) % 2 ? persistList->GetIDList(&answer)
                                             : persistFolder->GetCurFolder(&answer));
        ASSERT_EQ(c.list != nullptr, answer != nullptr);
        if (!c.list) continue;
        const UINT bytes = ILGetSize(list);
        ASSERT_EQ(bytes, ILGetSize(answer));
        EXPECT_EQ(0, std::memcmp(list, answer, bytes));
        g_allocator.Free(answer);
    }
    // The caller's copies were its own; the folder's copy goes with the folder.
    EXPECT_EQ(1u, g_allocator.live.size());
    persistFolder.Reset();
    persistList.Reset();
    EXPECT_EQ(0u, m_folder->Release());
    m_folder = nullptr;
    EXPECT_TRUE(g_allocator.live.empty());
}

}  // namespace
