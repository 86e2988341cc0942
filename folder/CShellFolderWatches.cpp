// The watches that keep the folder's open views live: one per view, ended with the
// folder at the latest.
#include "discovery/ServiceWatch.h"
#include "folder/CShellFolder.h"

void CShellFolder::ServeView(ServiceWatch* watch) {
    // Watches of views gone by are dropped here, so that the list holds live ones only.
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (!(*it)->Ended()) {
            ++it;
            continue;
        }
        (*it)->Release();
        it = m_watches.erase(it);
    }
    try {
        m_watches.push_back(watch);
        watch->AddRef();
    } catch (const std::bad_alloc&) {
        // No room to keep it: the view is served without a watch of the folder's; its
        // callback still ends it with the window.
    }
}

// The watch of the view that enumerates through `window`, with a reference; else the latest
// one still running, as a host may enumerate for its view with no window or another.
ServiceWatch* CShellFolder::WatchFor(HWND window) {
    ServiceWatch* found = nullptr;
    for (ServiceWatch* watch : m_watches) {
        if (watch->Ended()) continue;
        if (watch->Serves(window)) {
            found = watch;
            break;
        }
        found = watch;
    }
    if (found) found->AddRef();
    return found;
}

void CShellFolder::EndWatches() {
    for (ServiceWatch* watch : m_watches) {
        watch->End();
        watch->Release();
    }
    m_watches.clear();
}
