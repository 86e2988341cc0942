#include <vector>

#include "module/StartupCalls.h"
#include "tests/folder/FolderFixture.h"
#include "view/CShellViewCB.h"

namespace {

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
};

TEST_F(FolderView, EachViewGetsItsOwnCallback) {
    g_keepCallbacks = true;
    IShellView* first = nullptr;
    IShellView* second = nullptr;
    ASSERT_EQ(S_OK, m_folder->CreateViewObject(nullptr, IID_IShellView,
                                               reinterpret_cast<void**>(&first)));
    ASSERT_EQ(S_OK, m_folder->CreateViewObject(nullptr, IID_IShellView,
                                               reinterpret_cast<void**>(&second)));
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

TEST_F(FolderView, CallbackIgnoredByTheViewDoesNotOutliveTheCall) {
    const LONG locks = Module().GetLockCount();
    IShellView* view = nullptr;
    ASSERT_EQ(S_OK, m_folder->CreateViewObject(nullptr, IID_IShellView,
                                               reinterpret_cast<void**>(&view)));
    view->Release();
    EXPECT_EQ(locks, Module().GetLockCount());
}

TEST_F(FolderView, OnlyTheShellViewIsServed) {
    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    const LONG locks = Module().GetLockCount();
    EXPECT_EQ(E_NOINTERFACE, m_folder->CreateViewObject(nullptr, IID_IShellFolder, &out));
    EXPECT_EQ(E_NOINTERFACE, m_folder->CreateViewObject(nullptr, IID_IUnknown, &out));
    EXPECT_EQ(untouched, out);
    EXPECT_TRUE(g_requests.empty());
    EXPECT_EQ(locks, Module().GetLockCount());
}

TEST_F(FolderView, FailedViewLeavesNoCallbackBehind) {
    g_forcedFailure = E_ACCESSDENIED;
    const LONG locks = Module().GetLockCount();
    IShellView* view = nullptr;
    EXPECT_EQ(E_ACCESSDENIED, m_folder->CreateViewObject(nullptr, IID_IShellView,
                                                         reinterpret_cast<void**>(&view)));
    EXPECT_EQ(1u, g_requests.size());
    EXPECT_EQ(locks, Module().GetLockCount());
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
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
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

TEST(DisplayName, NoMemoryLeavesTheRecordAsItWas) {
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
    folder->Release();
}

}  // namespace
