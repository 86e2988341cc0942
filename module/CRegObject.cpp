#include "module/CRegObject.h"

#include <memory>
#include <new>

#include "module/RegParser.h"
#include "module/RegistryResult.h"
#include "module/ThreadAnsiCodePage.h"

namespace {

// A file loaded as data only, freed on every way out.
class DataFile {
public:
    explicit DataFile(HMODULE module) : m_module(module) {}
    ~DataFile() {
        if (m_module) FreeLibrary(m_module);
    }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};

// Scripts up to this many bytes are converted without a heap allocation.
constexpr DWORD kFixedScriptBytes = 511;

}  // namespace

HRESULT CRegObject::AddReplacement(LPCOLESTR name, LPCOLESTR text) {
    return m_replacements.Add(name, text);
}

HRESULT CRegObject::ClearReplacements() {
    m_replacements.Clear();
    return S_OK;
}

HRESULT CRegObject::RunScript(const wchar_t* script, bool registering) {
    RegParser parser(*this);
    return parser.RunScript(script, registering);
}

HRESULT CRegObject::RegisterFromResource(const wchar_t* moduleFileName, UINT id,
                                         const wchar_t* type, bool registering) {
    DataFile file(LoadLibraryExW(moduleFileName, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file.Get()) return LastErrorResult();

    HRSRC found = FindResourceW(file.Get(), MAKEINTRESOURCEW(id), type);
    if (!found) return LastErrorResult();
    HGLOBAL loaded = LoadResource(file.Get(), found);
    if (!loaded) return LastErrorResult();
    const DWORD size = SizeofResource(file.Get(), found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (!bytes) return LastErrorResult();

    wchar_t fixed[kFixedScriptBytes + 1];
    std::unique_ptr<wchar_t[]> onHeap;
    wchar_t* text = fixed;
    if (size > kFixedScriptBytes) {
        onHeap.reset(new (std::nothrow) wchar_t[static_cast<size_t>(size) + 1]);
        if (!onHeap) return E_OUTOFMEMORY;
        text = onHeap.get();
    }

    const int converted = MultiByteToWideChar(ThreadAnsiCodePage(), 0, bytes,
                                              static_cast<int>(size), text, static_cast<int>(size));
    if (converted == 0) return LastErrorResult();
    text[converted] = L'\0';
    return RunScript(text, registering);
}
