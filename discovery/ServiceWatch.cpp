#include "discovery/ServiceWatch.h"

#include <new>
#include <utility>

#include "discovery/ServiceItemId.h"
#include "discovery/TimedBrowse.h"
#include "module/CCorvaneModule.h"
#include "module/TaskMemPtr.h"

ChangeNotifyFunction g_changeNotify = SHChangeNotify;

namespace {

// How often the thread looks whether the watched window still exists: a view that the
// platform destroys without telling the folder is noticed within this.
constexpr DWORD kWindowCheckMilliseconds = 250;

ServiceState StateOf(LPCITEMIDLIST item) {
    const ServiceItemId* service = AsServiceItem(item);
    ServiceState state;
    state.name.assign(service->name, GetServiceNameLength(item));
    state.ipv4 = service->address.ipv4Address;
    state.port = service->address.port;
    state.path.assign(service->path, wcsnlen(service->path, kServicePathUnits - 1));
    return state;
}

// The item for a service, as the enumeration makes it; null when there is no memory.
LPITEMIDLIST ItemOf(const ServiceState& state) {
    ServiceAddress address{};
    address.family = 2;  // IPv4, as the library fills it
    address.ipv4Address = state.ipv4;
    address.port = state.port;
    LPITEMIDLIST item = nullptr;
    CreateServiceItemId(state.name.c_str(), &address, state.path.c_str(), &item);
    return item;
}

// The absolute ID list of a service's item under the folder; null when there is no memory.
LPITEMIDLIST AbsoluteItemOf(PCIDLIST_ABSOLUTE folder, const ServiceState& state) {
    TaskMemPtr<ITEMIDLIST> item;
    *item.Put() = ItemOf(state);
    return item.Get() ? ILCombine(folder, item.Get()) : nullptr;
}

}  // namespace

ServiceWatch* ServiceWatch::Create(HWND owner, PCIDLIST_ABSOLUTE folder) {
    LPITEMIDLIST copy = nullptr;
    if (folder) {
        copy = ILClone(folder);
        if (!copy) return nullptr;
    }
    ServiceWatch* watch = new (std::nothrow) ServiceWatch(owner, copy);
    if (!watch) {
        ILFree(copy);
        return nullptr;
    }
    if (!watch->m_wake) {
        watch->Release();
        return nullptr;
    }
    return watch;
}

ServiceWatch::ServiceWatch(HWND owner, LPITEMIDLIST folder)
    : m_owner(owner), m_folder(folder), m_wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

ServiceWatch::~ServiceWatch() {
    if (m_wake) CloseHandle(m_wake);
    ILFree(m_folder);
}

ULONG ServiceWatch::AddRef() { return ++m_refCount; }

ULONG ServiceWatch::Release() {
    const ULONG count = --m_refCount;
    if (count == 0) delete this;
    return count;
}

bool ServiceWatch::Serves(HWND window) const {
    if (m_started && window == m_listedFor) return true;
    return window && (window == m_owner || window == m_view || (m_owner && IsChild(m_owner, window)));
}

void ServiceWatch::SetViewWindow(HWND view) { m_view = view; }

void ServiceWatch::End() {
    m_ended = true;
    SetEvent(m_wake);
}

void ServiceWatch::BeginEnumeration() {
    std::lock_guard<SlimLock> guard(m_lock);
    ++m_listings;
    m_changes.BeginEnumeration(m_outgoing);
}

void ServiceWatch::EndEnumeration(HWND window, const std::vector<LPITEMIDLIST>& listed) {
    try {
        std::vector<ServiceState> states;
        for (LPITEMIDLIST item : listed) states.push_back(StateOf(item));
        std::lock_guard<SlimLock> guard(m_lock);
        for (ViewChange& change : m_changes.EndEnumeration(states)) m_outgoing.push_back(std::move(change));
        if (!m_started && !m_ended && m_folder) {
            // The thread's references: this object, the module (so that it is not
            // unloaded under the thread) and the DLL itself, given back as it exits.
            HMODULE self = nullptr;
            if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                    reinterpret_cast<LPCWSTR>(&ServiceWatch::ThreadMain), &self))
                return;
            AddRef();
            Module().Lock();
            HANDLE thread = CreateThread(nullptr, 0, &ServiceWatch::ThreadMain, this, 0, nullptr);
            if (!thread) {
                Module().Unlock();
                --m_refCount;  // the caller's reference remains
                FreeLibrary(self);
                return;
            }
            CloseHandle(thread);
            m_started = true;
            m_listedFor = window;
        }
    } catch (const std::bad_alloc&) {
        // No memory for the listing: the view stays as it is, untold.
    }
    SetEvent(m_wake);
}

DWORD WINAPI ServiceWatch::ThreadMain(void* param) {
    auto* watch = static_cast<ServiceWatch*>(param);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ServiceWatch::ThreadMain), &self);
    watch->Run();
    watch->Release();
    Module().Unlock();
    // The DLL goes, if this was its last use, only once the thread no longer runs in it.
    FreeLibraryAndExitThread(self, 0);
}

void ServiceWatch::Run() {
    DNSBrowserRef browser = nullptr;
    const bool initialised = DNSServicesInitialize(0, 0) == kDNSNoErr;
    if (initialised && DNSBrowserCreateW(0, &ServiceWatch::OnBrowserEvent, this, &browser) == kDNSNoErr &&
        DNSBrowserStartServiceSearchW(browser, kDNSBrowserFlagAutoResolve | kDNSBrowserFlagFollow,
                                      kServiceType, kServiceDomain) == kDNSNoErr) {
        Serve();
        DNSBrowserStopServiceSearch(browser, 0);
    }
    if (browser) DNSBrowserRelease(browser, 0);
    if (initialised) DNSServicesFinalize();
}

bool ServiceWatch::WindowAlive() const {
    const HWND view = m_view;
    const HWND window = view ? view : m_owner;
    return !window || IsWindow(window);
}

void ServiceWatch::Serve() {
    for (;;) {
        if (WaitForSingleObject(m_wake, kWindowCheckMilliseconds) == WAIT_FAILED) return;
        if (m_ended) return;
        if (!WindowAlive()) {
            m_ended = true;  // so that the folder drops it
            return;
        }
        std::vector<ViewChange> changes;
        uint64_t listings = 0;
        {
            std::lock_guard<SlimLock> guard(m_lock);
            changes.swap(m_outgoing);
            listings = m_listings;
        }
        // The shell is told outside the lock: it may deliver on the view's thread, which
        // may be waiting for the lock in an enumeration. One that began meanwhile (an F5)
        // lists what the changes not yet told would: told after it, they would be twice.
        for (size_t told = 0; told < changes.size(); ++told) {
            if (m_ended) return;
            {
                std::lock_guard<SlimLock> guard(m_lock);
                if (m_listings != listings) {
                    changes.erase(changes.begin(), changes.begin() + told);
                    try {
                        for (ViewChange& change : m_changes.Superseded(changes))
                            m_outgoing.push_back(std::move(change));
                    } catch (const std::bad_alloc&) {
                        // No memory: the view keeps what its listing shows.
                    }
                    SetEvent(m_wake);
                    break;
                }
            }
            Tell(changes[told]);
        }
    }
}

void ServiceWatch::Tell(const ViewChange& change) const {
    TaskMemPtr<ITEMIDLIST> from, to;
    if (change.kind != ViewChange::kCreate && !(*from.Put() = AbsoluteItemOf(m_folder, change.from)))
        return;
    if (change.kind != ViewChange::kDelete && !(*to.Put() = AbsoluteItemOf(m_folder, change.to)))
        return;
    switch (change.kind) {
    case ViewChange::kCreate: g_changeNotify(SHCNE_CREATE, SHCNF_IDLIST, to.Get(), nullptr); break;
    case ViewChange::kDelete: g_changeNotify(SHCNE_DELETE, SHCNF_IDLIST, from.Get(), nullptr); break;
    case ViewChange::kRename:
        // As the old item going and the new one coming: Wine's view, told of a rename,
        // may keep the old item (and its URL) under the new name.
        g_changeNotify(SHCNE_DELETE, SHCNF_IDLIST, from.Get(), nullptr);
        g_changeNotify(SHCNE_CREATE, SHCNF_IDLIST, to.Get(), nullptr);
        break;
    }
}

// On the library's thread, which the watch's own thread outlives: `context` stays valid.
void MDNS_CALL ServiceWatch::OnBrowserEvent(void* context, DNSBrowserRef, intptr_t,
                                            const BrowserEvent* event) noexcept {
    if (!event || !event->resolved) return;
    auto* watch = static_cast<ServiceWatch*>(context);
    const ResolvedServiceData& service = *event->resolved;
    try {
        // Through the item, so that the name and path are cut as the view's items are.
        const bool resolved = event->type == kDNSBrowserEventTypeResolved;
        if (!resolved && event->type != kDNSBrowserEventTypeRemoved) return;
        const std::wstring path = resolved ? ExtractTxtPath(service.txt) : std::wstring(L"/");
        TaskMemPtr<ITEMIDLIST> item;
        if (FAILED(CreateServiceItemId(service.name, &service.address, path.c_str(), item.Put())))
            return;
        const ServiceState state = StateOf(item.Get());
        {
            // Decided and queued at once, so that an enumeration beginning meanwhile takes
            // back all that it supersedes.
            std::lock_guard<SlimLock> guard(watch->m_lock);
            for (ViewChange& change : resolved ? watch->m_changes.OnResolved(state)
                                               : watch->m_changes.OnRemoved(state.name))
                watch->m_outgoing.push_back(std::move(change));
        }
        SetEvent(watch->m_wake);
    } catch (...) {
        // No memory: the event is dropped; nothing may unwind into the library.
    }
}
