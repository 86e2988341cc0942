#include "module/BaseModule.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

bool g_initFailed = false;

HINSTANCE ThisImage() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

BaseModule::BaseModule(HINSTANCE instance) : moduleInstance(instance) {
    if (FAILED(m_startupLock.Init())) g_initFailed = true;
}
