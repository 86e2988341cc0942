// The face of the registrar that the module sees: it only adds replacements.
#pragma once

#include <unknwn.h>

struct IRegistrarBase : public IUnknown {
    // Adds a (name, text) pair that "%name%" in a script is replaced with.
    virtual HRESULT STDMETHODCALLTYPE AddReplacement(LPCOLESTR name, LPCOLESTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearReplacements() = 0;
};
