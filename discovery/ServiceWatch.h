// Keeps one open view of the folder live: a browse that follows the services for as long as
// the view's window exists, and tells the shell of every service that comes, leaves or moves.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "discovery/ViewChanges.h"
#include "mDNS.h"
#include "runtime/SlimLock.h"

// The platform call that tells the shell of a change; tests replace it to see what is told.
using ChangeNotifyFunction = void(WINAPI*)(LONG event, UINT flags, LPCVOID first, LPCVOID second);
extern ChangeNotifyFunction g_changeNotify;

// Shared by the folder, the view's callback and the watch's own thread, each holding a
// reference; the count is atomic. The thread starts with the view's first enumeration and
// ends when End is called (the view's window destroyed, the folder released) or when the
// window that it watches no longer exists; it holds no pointer to the folder or the view.
class ServiceWatch {
public:
    // The events that a view registers for; the changes it is told are of these only.
    static constexpr LONG kEvents = SHCNE_CREATE | SHCNE_DELETE;

    // A watch, with one reference, for the view made for `owner` (may be null) of the folder
    // at `folder` (copied; when null, nothing can be told and no thread is started). Null
    // when there is no memory.
    static ServiceWatch* Create(HWND owner, PCIDLIST_ABSOLUTE folder);
    ULONG AddRef();
    ULONG Release();

    // Whether an enumeration for `window` belongs to this watch's view: the window its
    // first listing came for, its owner window or a window inside it (the view's own).
    bool Serves(HWND window) const;
    bool Started() const { return m_started; }
    bool Ended() const { return m_ended; }
    PCIDLIST_ABSOLUTE Folder() const { return m_folder; }

    // The view enumerates through `window` (shell's thread): what it lists replaces what
    // it had. The first listing starts the watch.
    void BeginEnumeration();
    void EndEnumeration(HWND window, const std::vector<LPITEMIDLIST>& listed);
    // The view's own window, when the view says which it is; watched from then on.
    void SetViewWindow(HWND view);
    // Nothing is told from now on; the thread ends soon after, by itself.
    void End();

private:
    ServiceWatch(HWND owner, LPITEMIDLIST folder);
    ~ServiceWatch();

    static DWORD WINAPI ThreadMain(void* watch);
    void Run();
    void Serve();
    bool WindowAlive() const;
    void Tell(const ViewChange& change) const;
    static void MDNS_CALL OnBrowserEvent(void* context, DNSBrowserRef browser, intptr_t status,
                                         const BrowserEvent* event) noexcept;

    std::atomic<ULONG> m_refCount{1};
    const HWND m_owner;
    std::atomic<HWND> m_view{nullptr};
    LPITEMIDLIST const m_folder;  // CoTaskMem, owned
    const HANDLE m_wake;          // auto-reset: changes queued, or End
    std::atomic<bool> m_ended{false};

    // Held only while deciding and queuing, never while the shell is told.
    SlimLock m_lock;
    ViewChanges m_changes;
    std::vector<ViewChange> m_outgoing;
    uint64_t m_listings = 0;  // enumerations begun
    bool m_started = false;
    HWND m_listedFor = nullptr;  // the window of the first listing
};
