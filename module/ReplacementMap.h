// The names that a registration script may write between percent signs, with their texts.
#pragma once

#include <windows.h>

#include <cstddef>

class ReplacementMap {
public:
    ReplacementMap() = default;
    ~ReplacementMap() { Clear(); }
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    // Copies both strings; duplicates are kept. S_OK, E_INVALIDARG or E_OUTOFMEMORY.
    HRESULT Add(const wchar_t* name, const wchar_t* text);
    void Clear();

    // The text of the first pair whose name equals `name` (`length` units, not terminated)
    // without regard to case, or null.
    const wchar_t* Find(const wchar_t* name, size_t length) const;

    size_t Count() const { return m_count; }

private:
    wchar_t** m_names = nullptr;
    wchar_t** m_texts = nullptr;
    size_t m_count = 0;
};
