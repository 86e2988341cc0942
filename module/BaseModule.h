// The first of the DLL's process-wide records: its instance and the start-up lock.
#pragma once

#include <windows.h>

#include "module/CriticalSection.h"

// Set by any start-up record whose lock cannot be created; the entry point then
// refuses the load.
extern bool g_initFailed;

class BaseModule {
public:
    explicit BaseModule(HINSTANCE instance);
    BaseModule(const BaseModule&) = delete;
    BaseModule& operator=(const BaseModule&) = delete;

    HINSTANCE moduleInstance;

private:
    CriticalSection m_startupLock;
};

// The instance of the image that this code is linked into (the DLL, or a test program).
HINSTANCE ThisImage();
