// A scripted mDNS.dll: answers the six calls as the test says and delivers queued events
// from a thread of its own while a search runs, one at a time, none after release.
#include "tests/standin/StandIn.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

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
std::vector<QueuedEvent> g_events;
std::string g_log, g_logCopy;

// Logs a call, or with kCallCount an event delivered, and gives the scripted status.
DNSStatus Record(int call, const std::string& entry) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_log += entry;
    return call < kCallCount ? g_status[call] : kDNSNoErr;
}

}  // namespace

struct DNSBrowser {
    DNSBrowserCallBack callback;
    void* context;
    std::vector<QueuedEvent> events;  // what the search delivers, copied at its start
    HANDLE stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE searchThread = nullptr;
    DWORD startedAt = 0;
    std::atomic<DWORD> stoppedAfter{MAXDWORD};  // ms from the start to the stop

    // Each event is delivered once due, and one due by the stop is delivered all the same
    // before the stop returns: how late this thread runs on a loaded machine decides nothing.
    static DWORD WINAPI Deliver(void* self) {
        DNSBrowser* browser = static_cast<DNSBrowser*>(self);
        DWORD due = 0;
        for (const QueuedEvent& queued : browser->events) {
            due += queued.delayMs;
            const DWORD now = GetTickCount() - browser->startedAt;
            if (due > now) WaitForSingleObject(browser->stopped, due - now);
            if (due > browser->stoppedAfter) break;
            ResolvedServiceData data{};
            data.name = queued.name.c_str();
            data.address = queued.address;
            data.txt = queued.txt.data();
            data.txtSize = static_cast<uint32_t>(queued.txt.size());
            const BrowserEvent event{queued.type, &data};
            Record(kCallCount, "E");
            browser->callback(browser->context, browser, 0, &event);
        }
        return 0;
    }

    void StopSearch() {
        if (stoppedAfter == MAXDWORD) stoppedAfter = GetTickCount() - startedAt;
        SetEvent(stopped);
        if (searchThread) WaitForSingleObject(searchThread, INFINITE);
    }
};

STANDIN_API void StandInReset() {
    std::lock_guard<std::mutex> guard(g_lock);
    for (DNSStatus& status : g_status) status = kDNSNoErr;
    g_events.clear();
    g_log.clear();
}

STANDIN_API void StandInFailCall(int call, DNSStatus status) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_status[call] = status;
}

STANDIN_API void StandInQueueEvent(uint32_t type, const wchar_t* name, const ServiceAddress* address,
                                   const char* txt, size_t txtSize, uint32_t delayMs) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_events.push_back({type, name, *address, std::string(txt, txtSize), delayMs});
}

STANDIN_API const char* StandInCallLog() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_logCopy = g_log;
    return g_logCopy.c_str();
}

extern "C" {

DNSStatus MDNS_CALL DNSServicesInitialize(DNSFlags, uint32_t) { return Record(kCallInitialize, "I"); }

DNSStatus MDNS_CALL DNSServicesFinalize(void) { return Record(kCallFinalize, "F"); }

DNSStatus MDNS_CALL DNSBrowserCreateW(DNSFlags, DNSBrowserCallBack callback, void* context,
                                      DNSBrowserRef* outBrowser) {
    const DNSStatus status = Record(kCallCreate, "C");
    if (status == kDNSNoErr) *outBrowser = new DNSBrowser{callback, context, {}};
    return status;
}

DNSStatus MDNS_CALL DNSBrowserStartServiceSearchW(DNSBrowserRef browser, DNSFlags flags, const wchar_t*,
                                                  const wchar_t*) {
    const DNSStatus status = Record(kCallStart, "S" + std::to_string(flags));
    if (status != kDNSNoErr) return status;
    std::lock_guard<std::mutex> guard(g_lock);
    browser->events = g_events;
    browser->startedAt = GetTickCount();
    browser->searchThread = CreateThread(nullptr, 0, &DNSBrowser::Deliver, browser, 0, nullptr);
    return status;
}

DNSStatus MDNS_CALL DNSBrowserStopServiceSearch(DNSBrowserRef browser, DNSFlags) {
    browser->StopSearch();
    return Record(kCallStop, "T");
}

DNSStatus MDNS_CALL DNSBrowserRelease(DNSBrowserRef browser, DNSFlags) {
    browser->StopSearch();
    CloseHandle(browser->searchThread);
    CloseHandle(browser->stopped);
    delete browser;
    return Record(kCallRelease, "R");
}

}  // extern "C"
