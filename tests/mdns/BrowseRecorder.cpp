#include "tests/mdns/BrowseRecorder.h"

void MDNS_CALL BrowseRecorder::OnEvent(void* context, DNSBrowserRef browser, intptr_t,
                                       const BrowserEvent* event) {
    auto* self = static_cast<BrowseRecorder*>(context);
    if (self->inCallback.fetch_add(1) != 0) self->overlapped = true;
    if (self->released) self->afterRelease = true;
    if (browser != self->expectedBrowser) self->wrongBrowser = true;
    RecordedEvent recorded;
    recorded.type = event->type;
    recorded.thread = GetCurrentThreadId();
    if (event->type == kDNSBrowserEventTypeResolved) {
        const ResolvedServiceData* data = event->resolved;
        recorded.name = data->name;
        recorded.serviceType = data->type;
        recorded.domain = data->domain;
        recorded.address = data->address;
        recorded.txt.assign(data->txt, data->txtSize);
    }
    self->events.push_back(std::move(recorded));
    // Slow enough that a second delivering thread would show as overlap.
    Sleep(0);
    self->inCallback.fetch_sub(1);
}

bool BrowseRecorder::Browse(DWORD milliseconds) {
    released = false;
    if (DNSServicesInitialize(0, 0) != kDNSNoErr) return false;
    DNSBrowserRef browser = nullptr;
    bool ok = DNSBrowserCreateW(0, &OnEvent, this, &browser) == kDNSNoErr;
    expectedBrowser = browser;
    if (ok) ok = DNSBrowserStartServiceSearchW(browser, kDNSBrowserFlagAutoResolve, L"_http._tcp",
                                               L".local") == kDNSNoErr;
    if (ok) {
        Sleep(milliseconds);
        ok = DNSBrowserStopServiceSearch(browser, 0) == kDNSNoErr;
    }
    if (browser && DNSBrowserRelease(browser, 0) != kDNSNoErr) ok = false;
    released = true;
    if (DNSServicesFinalize() != kDNSNoErr) ok = false;
    return ok;
}

size_t CountNamed(const std::vector<RecordedEvent>& events, const std::wstring& name) {
    size_t count = 0;
    for (const RecordedEvent& event : events) count += event.name == name;
    return count;
}

const RecordedEvent* FindNamed(const std::vector<RecordedEvent>& events, const std::wstring& name) {
    for (const RecordedEvent& event : events) {
        if (event.name == name) return &event;
    }
    return nullptr;
}
