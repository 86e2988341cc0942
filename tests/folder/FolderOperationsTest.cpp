#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>
#include <intshcut.h>
#include <ntquery.h>
#include <shlguid.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "discovery/ServiceItemId.h"
#include "discovery/ServiceUrl.h"
#include "folder/CShellFolder.h"
#include "module/ComPtr.h"
#include "module/StartupCalls.h"
#include "module/TaskMemPtr.h"
#include "view/CShellViewCB.h"

namespace {

constexpr HRESULT kBefore = 0x0000FFFF;
constexpr HRESULT kAfter = 0x00000001;
constexpr HRESULT kSame = 0x00000000;

class Item {
public:
    explicit Item(const std::wstring& name, uint32_t ipv4 = 0xC0000201, uint16_t port = 80,
                  const std::wstring& path = L"/") {
        const ServiceAddress address{2, ipv4, port, {}};
        EXPECT_EQ(S_OK, CreateServiceItemId(name.c_str(), &address, path.c_str(), m_item.Put()));
    }
    PCUITEMID_CHILD get() const { return m_item.Get(); }

private:
    TaskMemPtr<ITEMIDLIST> m_item;
};

// A live folder, made as the class factory makes it; once it goes, the module's lock count
// is what it was, so no object of the folder's is left behind.
class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_locksBefore = Module().GetLockCount();
        ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder2,
                                                     reinterpret_cast<void**>(&m_folder)));
    }
    void TearDown() override {
        if (m_folder) {
            EXPECT_EQ(0u, m_folder->Release());
        }
        EXPECT_EQ(m_locksBefore, Module().GetLockCount());
        CoUninitialize();
    }

    LONG m_locksBefore = 0;
    IShellFolder2* m_folder = nullptr;
};

std::wstring DisplayName(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags) {
    STRRET name{};
    EXPECT_EQ(S_OK, folder->GetDisplayNameOf(item, flags, &name));
    EXPECT_EQ(static_cast<UINT>(STRRET_WSTR), name.uType);
    TaskMemPtr<WCHAR> text(name.pOleStr);
    return text.Get();
}

TEST_F(FolderTest, EveryNameFlagGivesTheInstanceName) {
    const SHGDNF allFlags[] = {SHGDN_NORMAL, SHGDN_INFOLDER, SHGDN_FOREDITING, SHGDN_FORADDRESSBAR,
                               SHGDN_FORPARSING, SHGDN_INFOLDER | SHGDN_FORPARSING};
    for (const std::wstring& name : {std::wstring(L"Living room printer"), std::wstring(),
                                     std::wstring(127, L'n'), std::wstring(L"caf\u00e9 \U0001F600")}) {
        Item item(name);
        for (SHGDNF flags : allFlags) EXPECT_EQ(name, DisplayName(m_folder, item.get(), flags));
    }
    STRRET untouched{};
    untouched.uType = 77;
    Item item(L"x");
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDisplayNameOf(nullptr, SHGDN_NORMAL, &untouched));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDisplayNameOf(item.get(), SHGDN_NORMAL, nullptr));
    EXPECT_EQ(77u, untouched.uType);
}

TEST_F(FolderTest, OrderIsExactCodeUnitOrder) {
    const struct {
        const wchar_t* first;
        const wchar_t* second;
        HRESULT expected;
    } cases[] = {
        {L"Printer", L"printer", kBefore},  // 'P' 0x50 below 'p' 0x70
        {L"Zebra", L"aardvark", kBefore},
        {L"Printer", L"Printer 2nd floor", kBefore},
        {L"Printer", L"Printer2", kBefore},
        {L"a\u8000", L"az", kAfter},  // a unit at or above 0x8000 is large, not negative
        {L"", L"a", kBefore},
        {L"same", L"same", kSame},
        {L"10", L"9", kBefore},  // no natural ordering of digits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Item first(c.first), second(c.second);
        const HRESULT swapped = c.expected == kSame ? kSame : (c.expected == kAfter ? kBefore : kAfter);
        for (LPARAM sort : {LPARAM(0), LPARAM(1), LPARAM(SHCIDS_ALLFIELDS),
                            LPARAM(SHCIDS_CANONICALONLY | 1)}) {
            EXPECT_EQ(c.expected, m_folder->CompareIDs(sort, first.get(), second.get()));
            EXPECT_EQ(swapped, m_folder->CompareIDs(sort, second.get(), first.get()));
        }
    }
    // Only names take part: other addresses, ports and paths still compare equal.
    Item here(L"Web", 0xC0000201, 80, L"/a"), there(L"Web", 0xC6336401, 8080, L"/b");
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, here.get(), there.get()));
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, here.get(), here.get()));
}

TEST_F(FolderTest, ItemsHaveNoAttributesAndKeepTheirNames) {
    Item item(L"Printer");
    PCUITEMID_CHILD items[] = {item.get()};
    SFGAOF attributes = ~SFGAOF(0);
    EXPECT_EQ(S_OK, m_folder->GetAttributesOf(1, items, &attributes));
    EXPECT_EQ(0u, attributes);
    attributes = SFGAO_FOLDER | SFGAO_CANRENAME;
    EXPECT_EQ(S_OK, m_folder->GetAttributesOf(0, nullptr, &attributes));
    EXPECT_EQ(0u, attributes);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetAttributesOf(1, items, nullptr));
    PITEMID_CHILD renamed = reinterpret_cast<PITEMID_CHILD>(0x1234);
    EXPECT_EQ(E_FAIL, m_folder->SetNameOf(nullptr, item.get(), L"New name", SHGDN_NORMAL, &renamed));
    EXPECT_EQ(reinterpret_cast<PITEMID_CHILD>(0x1234), renamed);
}

TEST_F(FolderTest, TheOneNameColumn) {
    ULONG sort = 9, display = 9;
    EXPECT_EQ(S_OK, m_folder->GetDefaultColumn(0xDEADBEEF, &sort, &display));
    EXPECT_EQ(0u, sort);
    EXPECT_EQ(0u, display);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumn(0, nullptr, &display));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumn(0, &sort, nullptr));
    SHCOLSTATEF state = 0;
    EXPECT_EQ(S_OK, m_folder->GetDefaultColumnState(0, &state));
    EXPECT_EQ(0x11u, state);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumnState(1, &state));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumnState(0, nullptr));

    Item item(L"Camera"), unnamed(L"");
    for (PCUITEMID_CHILD which : {PCUITEMID_CHILD(nullptr), item.get(), unnamed.get()}) {
        SHELLDETAILS details{};
        ASSERT_EQ(S_OK, m_folder->GetDetailsOf(which, 0, &details));
        TaskMemPtr<WCHAR> text(details.str.pOleStr);
        EXPECT_EQ(LVCFMT_LEFT, details.fmt);
        EXPECT_EQ(60, details.cxChar);
        EXPECT_EQ(static_cast<UINT>(STRRET_WSTR), details.str.uType);
        EXPECT_STREQ(which ? GetServiceName(which) : L"Name", text.Get());
    }
    SHELLDETAILS untouched{};
    untouched.cxChar = 5;
    for (UINT column : {1u, 0xFFFFFFFFu}) {
        EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(nullptr, column, &untouched));
        EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(item.get(), column, &untouched));
        EXPECT_EQ(E_INVALIDARG, m_folder->MapColumnToSCID(column, nullptr));
    }
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(item.get(), 0, nullptr));
    EXPECT_EQ(5, untouched.cxChar);

    // The column's key gives the same name as the column itself.
    SHCOLUMNID id{};
    ASSERT_EQ(S_OK, m_folder->MapColumnToSCID(0, &id));
    EXPECT_TRUE(IsEqualGUID(FMTID_Storage, id.fmtid));
    EXPECT_EQ(static_cast<DWORD>(PID_STG_NAME), id.pid);
    VARIANT value;
    VariantInit(&value);
    ASSERT_EQ(S_OK, m_folder->GetDetailsEx(item.get(), &id, &value));
    ASSERT_EQ(VT_BSTR, value.vt);
    EXPECT_STREQ(L"Camera", value.bstrVal);
    VariantClear(&value);
    const SHCOLUMNID size{FMTID_Storage, 4}, otherSet{FMTID_SummaryInformation, PID_STG_NAME};
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &size, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &otherSet, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(nullptr, &id, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), nullptr, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &id, nullptr));
    EXPECT_EQ(VT_EMPTY, value.vt);
}

std::wstring ShortcutUrl(IUnknown* object) {
    ComPtr<IUniformResourceLocatorW> shortcut;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IUniformResourceLocatorW, shortcut.PutVoid()));
    if (!shortcut) return L"";
    TaskMemPtr<WCHAR> url;
    EXPECT_EQ(S_OK, shortcut->GetURL(url.Put()));
    return url.Get() ? url.Get() : L"";
}

INT WSAAPI NoAddressText(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
}

TEST_F(FolderTest, OpeningAnItemHandsOutAShortcutToItsUrl) {
    Item item(L"Printer", 0xC0000201, 631, L"printers/a b");
    PCUITEMID_CHILD items[] = {item.get(), item.get()};
    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(S_OK, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUniformResourceLocatorW,
                                            nullptr, reinterpret_cast<void**>(&first)));
    ASSERT_EQ(S_OK, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr,
                                            reinterpret_cast<void**>(&second)));
    EXPECT_NE(first, second);  // a new shortcut each time
    EXPECT_EQ(L"http://192.0.2.1:631/printers/a%20b", ShortcutUrl(first));
    EXPECT_EQ(L"http://192.0.2.1:631/printers/a%20b", ShortcutUrl(second));
    // The caller held the only reference.
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(0u, second->Release());

    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    EXPECT_EQ(E_FAIL, m_folder->GetUIObjectOf(nullptr, 2, items, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 0, items, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 1, nullptr, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr, nullptr));
    // An address that cannot be written as text gives no shortcut.
    g_addressToString = NoAddressText;
    EXPECT_EQ(E_FAIL, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr, &out));
    g_addressToString = WSAAddressToStringW;
    EXPECT_EQ(untouched, out);
    EXPECT_EQ(E_NOINTERFACE, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IShellFolder, nullptr,
                                                     &out));
}

// Records what the folder hands the platform, then lets the platform build the view.
// Wine's view never references the callback; Windows' keeps it for the view's life,
// which keepCallbacks stands in for.
std::vector<SFV_CREATE> g_requests;
HRESULT g_forcedFailure = S_OK;
bool g_keepCallbacks = false;

HRESULT WINAPI RecordingCreateView(const SFV_CREATE* create, IShellView** view) {
    g_requests.push_back(*create);
    if (FAILED(g_forcedFailure)) return g_forcedFailure;
    if (g_keepCallbacks) create->psfvcb->AddRef();
    return SHCreateShellFolderView(create, view);
}

class FolderView : public FolderTest {
protected:
    void SetUp() override {
        FolderTest::SetUp();
        g_requests.clear();
        g_forcedFailure = S_OK;
        g_keepCallbacks = false;
        g_createShellFolderView = RecordingCreateView;
    }
    void TearDown() override {
        g_createShellFolderView = SHCreateShellFolderView;
        FolderTest::TearDown();
    }
    HRESULT CreateView(REFIID iid, void** out) { return m_folder->CreateViewObject(nullptr, iid, out); }
};

TEST_F(FolderView, EachViewGetsItsOwnCallback) {
    g_keepCallbacks = true;
    IShellView* first = nullptr;
    IShellView* second = nullptr;
    ASSERT_EQ(S_OK, CreateView(IID_IShellView, reinterpret_cast<void**>(&first)));
    ASSERT_EQ(S_OK, CreateView(IID_IShellView, reinterpret_cast<void**>(&second)));
    ASSERT_EQ(2u, g_requests.size());
    for (const SFV_CREATE& request : g_requests) {
        EXPECT_EQ(sizeof(SFV_CREATE), request.cbSize);
        EXPECT_EQ(static_cast<void*>(m_folder), static_cast<void*>(request.pshf));
        EXPECT_EQ(nullptr, request.psvOuter);
        EXPECT_NE(nullptr, request.psfvcb);
    }
    EXPECT_NE(g_requests[0].psfvcb, g_requests[1].psfvcb);
    EXPECT_NE(first, second);
    first->Release();
    second->Release();
    // The kept callbacks are the views' own now: their last release destroys them.
    for (const SFV_CREATE& request : g_requests) EXPECT_EQ(0u, request.psfvcb->Release());
}

// A callback that the view ignores, or that a failed view leaves, dies with the call, and
// no other interface makes one: the fixture's lock count finds any left behind.
TEST_F(FolderView, CallbackNotKeptDoesNotOutliveTheCall) {
    IShellView* view = nullptr;
    ASSERT_EQ(S_OK, CreateView(IID_IShellView, reinterpret_cast<void**>(&view)));
    view->Release();
    g_forcedFailure = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, CreateView(IID_IShellView, reinterpret_cast<void**>(&view)));
    EXPECT_EQ(2u, g_requests.size());

    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    EXPECT_EQ(E_NOINTERFACE, CreateView(IID_IShellFolder, &out));
    EXPECT_EQ(E_NOINTERFACE, CreateView(IID_IUnknown, &out));
    EXPECT_EQ(untouched, out);
    EXPECT_EQ(2u, g_requests.size());
}

TEST(ViewCallback, AcknowledgesOnlyMessage40) {
    CComObject<CShellViewCB>* callback = nullptr;
    ASSERT_EQ(S_OK, CreateObject(&callback));
    callback->AddRef();
    EXPECT_EQ(S_OK, callback->MessageSFVCB(40, 0, 0));
    EXPECT_EQ(S_OK, callback->MessageSFVCB(40, WPARAM(-1), LPARAM(0x1234)));
    for (UINT message : {0u, 39u, 41u, 0xFFFFFFFFu})
        EXPECT_EQ(E_NOTIMPL, callback->MessageSFVCB(message, 0, 0));
    IShellFolderViewCB* asCallback = nullptr;
    EXPECT_EQ(S_OK, callback->QueryInterface(IID_IShellFolderViewCB,
                                             reinterpret_cast<void**>(&asCallback)));
    EXPECT_EQ(static_cast<IShellFolderViewCB*>(callback), asCallback);
    asCallback->Release();
    EXPECT_EQ(0u, callback->Release());
}

// An allocator that has nothing to give, for the paths that must fail cleanly.
class EmptyAllocator : public IMalloc {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void*) Alloc(SIZE_T) override { return nullptr; }
    STDMETHODIMP_(void*) Realloc(void*, SIZE_T) override { return nullptr; }
    STDMETHODIMP_(void) Free(void* block) override { CoTaskMemFree(block); }
    STDMETHODIMP_(SIZE_T) GetSize(void*) override { return 0; }
    STDMETHODIMP_(int) DidAlloc(void*) override { return 0; }
    STDMETHODIMP_(void) HeapMinimize() override {}
};
EmptyAllocator g_emptyAllocator;

HRESULT WINAPI GiveEmptyAllocator(IMalloc** allocator) {
    *allocator = &g_emptyAllocator;
    return S_OK;
}

TEST_F(FolderTest, NoMemoryForTheNameLeavesTheRecordAsItWas) {
    IShellFolder* folder = nullptr;
    g_getShellAllocator = GiveEmptyAllocator;
    ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder,
                                                 reinterpret_cast<void**>(&folder)));
    g_getShellAllocator = SHGetMalloc;
    Item item(L"Printer");
    STRRET name{};
    name.uType = 77;
    EXPECT_EQ(E_OUTOFMEMORY, folder->GetDisplayNameOf(item.get(), SHGDN_NORMAL, &name));
    EXPECT_EQ(77u, name.uType);
    EXPECT_EQ(0u, folder->Release());
}

// The task allocator, with the blocks it has given and not yet taken back.
class CountingAllocator : public EmptyAllocator {
public:
    STDMETHODIMP_(void*) Alloc(SIZE_T bytes) override {
        if (refuse) return nullptr;
        void* block = CoTaskMemAlloc(bytes);
        live.insert(block);
        return block;
    }
    STDMETHODIMP_(void) Free(void* block) override {
        EXPECT_EQ(1u, live.erase(block)) << "freed a block it was not given";
        CoTaskMemFree(block);
    }
    std::set<void*> live;
    bool refuse = false;
};
CountingAllocator g_countingAllocator;

HRESULT WINAPI GiveCountingAllocator(IMalloc** allocator) {
    *allocator = &g_countingAllocator;
    return S_OK;
}

// Hosts handed the folder as an object ask it where it is: it answers a copy of the
// list it was last given, through both interfaces, and frees what it kept when it goes.
TEST_F(FolderTest, AnswersCopiesOfTheListItWasGiven) {
    g_getShellAllocator = GiveCountingAllocator;
    IShellFolder* folder = nullptr;
    ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder,
                                                 reinterpret_cast<void**>(&folder)));
    g_getShellAllocator = SHGetMalloc;
    ComPtr<IPersistFolder2> persistFolder;
    ComPtr<IPersistIDList> persistList;
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IPersistFolder2, persistFolder.PutVoid()));
    ASSERT_EQ(S_OK, folder->QueryInterface(IID_IPersistIDList, persistList.PutVoid()));
    CLSID classId{};
    EXPECT_EQ(S_OK, persistList->GetClassID(&classId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ShellFolder, classId));

    Item first(L"First"), second(L"Second place");
    const auto given = [](const Item& item) { return reinterpret_cast<PCIDLIST_ABSOLUTE>(item.get()); };
    enum Step { kNone, kInitialize, kSetIDList };
    const struct {
        Step step;
        const Item* list;
        HRESULT stepResult;
        HRESULT answer;
        const Item* answered;
        bool refuse;
    } cases[] = {
        {kNone, nullptr, S_OK, S_FALSE, nullptr, false},  // before Initialize
        {kInitialize, &first, S_OK, S_OK, &first, false},
        {kSetIDList, &second, S_OK, S_OK, &second, false},
        {kSetIDList, nullptr, E_INVALIDARG, S_OK, &second, false},
        {kInitialize, &first, E_OUTOFMEMORY, E_OUTOFMEMORY, nullptr, true},  // keeps the old
        {kNone, nullptr, S_OK, S_OK, &second, false},
        {kInitialize, nullptr, S_OK, S_FALSE, nullptr, false},
        {kInitialize, &first, S_OK, S_OK, &first, false},  // kept to the folder's end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const PCIDLIST_ABSOLUTE list = c.list ? given(*c.list) : nullptr;
        g_countingAllocator.refuse = c.refuse;
        HRESULT hr = S_OK;
        if (c.step == kInitialize) hr = persistFolder->Initialize(list);
        if (c.step == kSetIDList) hr = persistList->SetIDList(list);
        EXPECT_EQ(c.stepResult, hr);
        PIDLIST_ABSOLUTE answers[2] = {reinterpret_cast<PIDLIST_ABSOLUTE>(1),
                                       reinterpret_cast<PIDLIST_ABSOLUTE>(1)};
        EXPECT_EQ(c.answer, persistFolder->GetCurFolder(&answers[0]));
        EXPECT_EQ(c.answer, persistList->GetIDList(&answers[1]));
        g_countingAllocator.refuse = false;
        EXPECT_NE(answers[0] == nullptr, c.answered != nullptr);
        if (c.answered) {
            const UINT bytes = ILGetSize(given(*c.answered));
            for (PIDLIST_ABSOLUTE answer : answers) {
                EXPECT_NE(given(*c.answered), answer);
                ASSERT_EQ(bytes, ILGetSize(answer));
                EXPECT_EQ(0, std::memcmp(given(*c.answered), answer, bytes));
            }
            EXPECT_NE(answers[0], answers[1]);
        }
        for (PIDLIST_ABSOLUTE answer : answers) {
            EXPECT_EQ(c.answered != nullptr, answer != nullptr);
            if (answer) g_countingAllocator.Free(answer);
        }
    }
    EXPECT_EQ(E_POINTER, persistFolder->GetCurFolder(nullptr));
    EXPECT_EQ(E_POINTER, persistList->GetIDList(nullptr));
    // The caller's copies were its own; the folder's copy goes with the folder.
    EXPECT_EQ(1u, g_countingAllocator.live.size());
    persistFolder.Reset();
    persistList.Reset();
    EXPECT_EQ(0u, folder->Release());
    EXPECT_TRUE(g_countingAllocator.live.empty());
}

}  // namespace
