// A scripted mDNS.dll: answers the six calls as the test says and delivers queued events
// from a thread of its own while a search runs, one at a time, none after release.
#include "tests/standin/StandIn.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

struct DNSBrowser {
    DNSBrowserCallBack callback;
    void* context;
    std::thread searchThread;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
};

namespace {

struct QueuedEvent {
    uint32_t type;
    std::wstring name;
    ServiceAddress address;
    std::string txt;
    uint32_t delayMs;
};

std::mutex g_lock;
DNSStatus g_status[kCallCount];
bool g_writeHandleOnFailure;
std::vector<QueuedEvent> g_events;
std::string g_log;
std::atomic<bool> g_deliveryFault{false};
std::atomic<int> g_inCallback{0};

DNSStatus Record(StandInCall call, char letter) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_log += letter;
    return g_status[call];
}

void Deliver(DNSBrowser* browser, DWORD callerThread, const std::vector<QueuedEvent>& events) {
    for (const QueuedEvent& queued : events) {
        {
            std::unique_lock<std::mutex> guard(browser->lock);
            if (browser->wake.wait_for(guard, std::chrono::milliseconds(queued.delayMs),
                                       [browser] { return browser->stopping; }))
                return;
        }
        ResolvedServiceData data{};
        data.name = queued.name.c_str();
        data.type = L"_http._tcp";
        data.domain = L".local";
        data.address = queued.address;
        data.txt = queued.txt.data();
        data.txtSize = static_cast<uint32_t>(queued.txt.size());
        BrowserEvent event{queued.type, &data};
        if (GetCurrentThreadId() == callerThread || g_inCallback.fetch_add(1) != 0)
            g_deliveryFault = true;
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_log += 'E';
        }
        browser->callback(browser->context, browser, 0, &event);
        g_inCallback.fetch_sub(1);
    }
}

void SignalStop(DNSBrowser* browser) {
    {
        std::lock_guard<std::mutex> guard(browser->lock);
        browser->stopping = true;
    }
    browser->wake.notify_all();
}

}  // namespace

STANDIN_API void StandInReset() {
    std::lock_guard<std::mutex> guard(g_lock);
    for (DNSStatus& status : g_status) status = kDNSNoErr;
    g_writeHandleOnFailure = false;
    g_events.clear();
    g_log.clear();
    g_deliveryFault = false;
}

STANDIN_API void StandInFailCall(int call, DNSStatus status, bool writeHandle) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_status[call] = status;
    if (call == kCallCreate) g_writeHandleOnFailure = writeHandle;
}

STANDIN_API void StandInQueueEvent(uint32_t type, const wchar_t* name, const ServiceAddress* address,
                                   const char* txt, size_t txtSize, uint32_t delayMs) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_events.push_back({type, name, *address, std::string(txt, txtSize), delayMs});
}

STANDIN_API size_t StandInCallLog(char* buffer, size_t size) {
    std::lock_guard<std::mutex> guard(g_lock);
    size_t length = g_log.size() < size ? g_log.size() : size;
    g_log.copy(buffer, length);
    return length;
}

STANDIN_API bool StandInDeliveryFault() { return g_deliveryFault; }

extern "C" {

DNSStatus MDNS_CALL DNSServicesInitialize(DNSFlags, uint32_t) {
    return Record(kCallInitialize, 'I');
}

DNSStatus MDNS_CALL DNSServicesFinalize(void) { return Record(kCallFinalize, 'F'); }

DNSStatus MDNS_CALL DNSBrowserCreateW(DNSFlags, DNSBrowserCallBack callback, void* context,
                                      DNSBrowserRef* outBrowser) {
    DNSStatus status = Record(kCallCreate, 'C');
    if (status != kDNSNoErr && !g_writeHandleOnFailure) return status;
    *outBrowser = new DNSBrowser{callback, context, {}, {}, {}, false};
    return status;
}

DNSStatus MDNS_CALL DNSBrowserStartServiceSearchW(DNSBrowserRef browser, DNSFlags, const wchar_t*,
                                                  const wchar_t*) {
    DNSStatus status = Record(kCallStart, 'S');
    if (status != kDNSNoErr) return status;
    std::vector<QueuedEvent> events;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        events = g_events;
    }
    browser->searchThread = std::thread(Deliver, browser, GetCurrentThreadId(), std::move(events));
    return status;
}

DNSStatus MDNS_CALL DNSBrowserStopServiceSearch(DNSBrowserRef browser, DNSFlags) {
    SignalStop(browser);
    return Record(kCallStop, 'T');
}

DNSStatus MDNS_CALL DNSBrowserRelease(DNSBrowserRef browser, DNSFlags) {
    SignalStop(browser);
    if (browser->searchThread.joinable()) browser->searchThread.join();
    delete browser;
    return Record(kCallRelease, 'R');
}

}  // extern "C"
