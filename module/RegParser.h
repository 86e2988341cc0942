// Runs one registration script: reads it token by token and writes or removes the keys
// and values that it describes.
//
// A script is a list of root blocks ("HKCR { ... }"). Inside a block each entry names a
// subkey ('name', optionally "= type 'value'" for its default value and a nested block),
// or a value of the enclosing key ("Val 'name' = type 'value'"). "ForceRemove" removes a
// key's tree before it is written again, "NoRemove" keeps a key when unregistering and
// "Delete" only removes. Types: s (string), m (strings separated by \0), d (32-bit
// number, decimal or &H hexadecimal), b (hexadecimal bytes).
#pragma once

#include <windows.h>

#include "module/CRegObject.h"
#include "module/TaskMemPtr.h"

class RegParser {
public:
    // A token holds at most kMaxTokenLength characters and its terminator.
    static constexpr size_t kTokenBufferLength = 4096;
    static constexpr size_t kMaxTokenLength = kTokenBufferLength - 2;
    static constexpr size_t kMaxReplacementName = 31;
    static constexpr size_t kValueNameBufferLength = 260;

    explicit RegParser(const CRegObject& registrar) : m_registrar(registrar) {}
    RegParser(const RegParser&) = delete;
    RegParser& operator=(const RegParser&) = delete;

    HRESULT RunScript(const wchar_t* script, bool registering);

    // The script with every "%name%" replaced by its text and "%%" by "%", in a new block
    // of the task allocator.
    HRESULT ExpandReplacements(const wchar_t* script, TaskMemPtr<wchar_t>& expanded) const;

    // Removes `name` under `parent` with all its subkeys; a platform error code.
    static LONG DeleteKeyTree(HKEY parent, const wchar_t* name);

    static bool IsProtectedKey(const wchar_t* name);
    // The predefined key that a root name stands for, or null.
    static HKEY RootKeyFromName(const wchar_t* name);

private:
    HRESULT ProcessKeyBlock(wchar_t* token, HKEY parent, bool registering, bool recovering);
    HRESULT SetValueFromScript(HKEY key, const wchar_t* valueName, wchar_t* token);
    HRESULT NextToken(wchar_t* token);
    HRESULT SkipAssignment(wchar_t* token);
    void SkipWhiteSpace();

    const CRegObject& m_registrar;
    const wchar_t* m_position = nullptr;
};
