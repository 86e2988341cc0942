// The registrar built into the DLL: runs a registration script with its replacements.
#pragma once

#include <windows.h>

#include "module/IRegistrarBase.h"
#include "module/ReplacementMap.h"

// One registry root that the scripts name, answered by another key instead. Tests use
// it to run a script against a key of their own.
struct RootKeyRedirect {
    HKEY root;
    HKEY target;
};

// A plain object owned by its creator, not reference-counted: it lives for one run.
class CRegObject : public IRegistrarBase {
public:
    CRegObject() = default;
    virtual ~CRegObject() { m_replacements.Clear(); }
    CRegObject(const CRegObject&) = delete;
    CRegObject& operator=(const CRegObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP AddReplacement(LPCOLESTR name, LPCOLESTR text) override;
    STDMETHODIMP ClearReplacements() override;

    // Registers (or unregisters) what `script` describes.
    HRESULT RunScript(const wchar_t* script, bool registering);

    // Loads script resource `id` of type `type` from the file `moduleFileName` as data,
    // turns it into wide text and runs it.
    HRESULT RegisterFromResource(const wchar_t* moduleFileName, UINT id, const wchar_t* type,
                                 bool registering);

    const ReplacementMap& Replacements() const { return m_replacements; }

    void RedirectRoot(HKEY root, HKEY target) { m_redirect = {root, target}; }
    const RootKeyRedirect& Redirect() const { return m_redirect; }

private:
    ReplacementMap m_replacements;
    RootKeyRedirect m_redirect{};
};
