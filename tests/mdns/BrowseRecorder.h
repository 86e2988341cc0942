// Runs browses through mDNS.dll the way the folder does and records what they deliver.
#ifndef TESTS_MDNS_BROWSERECORDER_H
#define TESTS_MDNS_BROWSERECORDER_H

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mdns/include/mDNS.h"

struct RecordedEvent {
    uint32_t type = 0;
    std::wstring name;
    std::wstring serviceType;
    std::wstring domain;
    ServiceAddress address{};
    std::string txt;  // txtSize bytes as delivered
    DWORD thread = 0;
};

class BrowseRecorder {
public:
    static void MDNS_CALL OnEvent(void* context, DNSBrowserRef browser, intptr_t status,
                                  const BrowserEvent* event);

    // Initialise, create, start, sleep, stop, release, finalise; false if a step failed.
    bool Browse(DWORD milliseconds);

    std::vector<RecordedEvent> events;
    DNSBrowserRef expectedBrowser = nullptr;
    std::atomic<int> inCallback{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> wrongBrowser{false};
    std::atomic<bool> afterRelease{false};
    std::atomic<bool> released{false};
};

// Events whose name is `name`.
size_t CountNamed(const std::vector<RecordedEvent>& events, const std::wstring& name);
const RecordedEvent* FindNamed(const std::vector<RecordedEvent>& events, const std::wstring& name);

#endif
