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
        // No room to keep it: the watch still ends with its window, not with the folder.
    }
}

// The watch of the view that enumerates through `window`, with a reference; else the latest
// one not started, as a view may enumerate with no window or one of its own. Another
// caller's enumeration (a tree looking for subfolders) changes no watch's baseline.
ServiceWatch* CShellFolder::WatchFor(HWND window) {
    ServiceWatch* found = nullptr;
    for (ServiceWatch* watch : m_watches) {
        if (watch->Ended()) continue;
        if (watch->Serves(window)) {
            found = watch;
            break;
        }
        if (!watch->Started()) found = watch;
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
