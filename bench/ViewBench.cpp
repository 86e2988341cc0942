// The items of the folder's open view, as the shell shows them, stamped with the wall clock.
//   view_bench SECONDS
// Registers the folder DLL beside it, binds to the folder through the desktop as the shell
// does and has it create its view (the platform's standard view) in a window of its own,
// whose message loop runs for SECONDS. Prints "ready ITEMS" once the view has listed the
// folder, then one line per item that the view's list view gains or loses:
//   MS_SINCE_1970 + NAME
//   MS_SINCE_1970 - NAME
// Each is stamped inside the list view's own LVN_INSERTITEM or LVN_DELETEITEM notification to
// the view's window, as the item goes in or out: no polling, the clock's resolution.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

#include "bench/WallClock.h"
#include "module/ComPtr.h"
#include "tools/ShellBinding.h"

namespace {

int Fail(const char* step, HRESULT hr) {
    std::fprintf(stderr, "view_bench: %s failed: 0x%08lX\n", step, static_cast<unsigned long>(hr));
    return 1;
}

// The frame that a view is created in: it answers only for its window, as the view needs
// nothing more of it here. One per run, on the stack; its count is not kept.
class FrameBrowser : public IShellBrowser {
public:
    explicit FrameBrowser(HWND frame) : m_frame(frame) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IOleWindow) &&
            !IsEqualIID(iid, IID_IShellBrowser))
            return E_NOINTERFACE;
        *out = static_cast<IShellBrowser*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = m_frame;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusTextSB(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream** stream) override {
        *stream = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetControlWindow(UINT, HWND* window) override {
        *window = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT* result) override {
        if (result) *result = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP QueryActiveShellView(IShellView** view) override {
        *view = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return S_OK; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

private:
    const HWND m_frame;
};

WNDPROC g_viewProc = nullptr;
bool g_stamping = false;

// Stamped first: reading the name asks the view, which takes its own time. The item is
// still in the list view while its deletion is notified.
void Stamp(const NMLISTVIEW& change, char sign) {
    const unsigned long long now = WallClockMs();
    wchar_t name[256] = L"?";
    LVITEMW item{};
    item.pszText = name;
    item.cchTextMax = ARRAYSIZE(name);
    SendMessageW(change.hdr.hwndFrom, LVM_GETITEMTEXTW, change.iItem, reinterpret_cast<LPARAM>(&item));
    std::printf("%llu %c %ls\n", now, sign, name);
    std::fflush(stdout);
}

// The view's window, subclassed: its list view tells it of every item inserted or deleted.
LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && g_stamping) {
        const auto& change = *reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (change.hdr.code == LVN_INSERTITEM) Stamp(change, '+');
        if (change.hdr.code == LVN_DELETEITEM) Stamp(change, '-');
    }
    return CallWindowProcW(g_viewProc, window, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Register() {
    HMODULE dll = LoadLibraryW(L"ZeroconfNeighborhood.dll");
    if (!dll) return Fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    using RegisterFunction = HRESULT(WINAPI*)();
    auto registerServer = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    const HRESULT hr = registerServer ? registerServer() : E_NOINTERFACE;
    FreeLibrary(dll);
    return FAILED(hr) ? Fail("DllRegisterServer", hr) : 0;
}

int ShowView(IShellFolder* folder, int seconds) {
    WNDCLASSW frameClass{};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.lpszClassName = L"ViewBenchFrame";
    if (!RegisterClassW(&frameClass)) return Fail("RegisterClass", HRESULT_FROM_WIN32(GetLastError()));
    HWND frame = CreateWindowExW(0, frameClass.lpszClassName, L"view_bench", WS_OVERLAPPEDWINDOW,
                                 0, 0, 640, 480, nullptr, nullptr, frameClass.hInstance, nullptr);
    if (!frame) return Fail("CreateWindow", HRESULT_FROM_WIN32(GetLastError()));
    ShowWindow(frame, SW_SHOWNORMAL);

    FrameBrowser browser(frame);
    ComPtr<IShellView> view;
    HRESULT hr = folder->CreateViewObject(frame, IID_IShellView, view.PutVoid());
    if (FAILED(hr)) return Fail("CreateViewObject", hr);
    FOLDERSETTINGS settings{FVM_DETAILS, 0};
    RECT area{0, 0, 640, 480};
    HWND viewWindow = nullptr;
    hr = view->CreateViewWindow(nullptr, &settings, &browser, &area, &viewWindow);
    if (FAILED(hr) || !viewWindow) return Fail("CreateViewWindow", FAILED(hr) ? hr : E_FAIL);
    HWND list = FindWindowExW(viewWindow, nullptr, WC_LISTVIEWW, nullptr);
    g_viewProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(viewWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ViewProc)));
    g_stamping = true;
    std::printf("ready %ld\n", list ? static_cast<long>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1L);
    std::fflush(stdout);

    SetTimer(frame, 1, static_cast<UINT>(seconds) * 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    g_stamping = false;
    view->DestroyViewWindow();
    DestroyWindow(frame);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    HRESULT hr = OleInitialize(nullptr);
    if (FAILED(hr)) return Fail("OleInitialize", hr);
    int result = Register();
    if (result == 0) {
        ComPtr<IShellFolder> folder;
        const char* step = nullptr;
        hr = BindThroughDesktop(IID_IShellFolder, folder.PutVoid(), step);
        result = FAILED(hr) ? Fail(step, hr) : ShowView(folder.Get(), seconds);
    }
    OleUninitialize();
    return result;
}
