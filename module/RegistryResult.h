// Platform error codes as HRESULTs.
#pragma once

#include <windows.h>

// 0x80070000 | (e & 0xFFFF) for an error e above 0; 0 and HRESULTs pass unchanged.
inline HRESULT HResultFromError(LONG error) {
    return error > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<ULONG>(error) & 0xFFFFu))
                     : static_cast<HRESULT>(error);
}

// The last error of the calling thread as an HRESULT. A failing call that left no error
// code still reports a failure (E_FAIL), never S_OK.
inline HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error != 0 ? HResultFromError(static_cast<LONG>(error)) : E_FAIL;
}
