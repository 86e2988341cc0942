#include "module/CCorvaneModule.h"

#include "module/ObjectMap.h"

namespace {

void RunObjectMain(bool starting) {
    for (ObjectMapEntry* const* row = g_objectMapFirst; row != g_objectMapLast; ++row)
        if (*row && (*row)->objectMain) (*row)->objectMain(starting);
}

// One translation unit, so that construction follows this order and destruction the reverse.
BaseModule g_baseModule(ThisImage());
ComModule g_comModule(ThisImage(), g_objectMapFirst, g_objectMapLast);
CCorvaneModule g_module;

}  // namespace

BaseModule& Base() { return g_baseModule; }
ComModule& Com() { return g_comModule; }
CCorvaneModule& Module() { return g_module; }

CCorvaneModule::CCorvaneModule() : size(sizeof(CCorvaneModule)) {
    if (FAILED(m_moduleLock.Init())) g_initFailed = true;
    RunObjectMain(true);
}

CCorvaneModule::~CCorvaneModule() {
    RunObjectMain(false);
    size = 0;
}
