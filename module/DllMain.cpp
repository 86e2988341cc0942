// The DLL's entry point and its COM server exports.
#include <windows.h>

#include "module/BaseModule.h"
#include "module/CCorvaneModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    // A start-up record whose lock could not be made refuses the load; the records'
    // tear-downs then run as at any unload.
    if (reason == DLL_PROCESS_ATTACH && g_initFailed) return FALSE;
    return TRUE;
}

STDAPI DllCanUnloadNow() { return Module().GetLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
    return Com().GetClassObject(classId, iid, out);
}
