#include "module/ReplacementMap.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {

wchar_t* CopyString(const wchar_t* text) {
    const size_t length = wcslen(text);
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (copy) wmemcpy(copy, text, length + 1);
    return copy;
}

// A copy of `array` one slot longer, with `last` in the new slot; null when out of memory.
wchar_t** Grow(wchar_t* const* array, size_t count, wchar_t* last) {
    wchar_t** grown = new (std::nothrow) wchar_t*[count + 1];
    if (!grown) return nullptr;
    for (size_t i = 0; i < count; ++i) grown[i] = array[i];
    grown[count] = last;
    return grown;
}

}  // namespace

HRESULT ReplacementMap::Add(const wchar_t* name, const wchar_t* text) {
    if (!name || !text) return E_INVALIDARG;
    std::unique_ptr<wchar_t[]> nameCopy(CopyString(name));
    std::unique_ptr<wchar_t[]> textCopy(CopyString(text));
    if (!nameCopy || !textCopy) return E_OUTOFMEMORY;

    std::unique_ptr<wchar_t*[]> names(Grow(m_names, m_count, nameCopy.get()));
    if (!names) return E_OUTOFMEMORY;
    std::unique_ptr<wchar_t*[]> texts(Grow(m_texts, m_count, textCopy.get()));
    if (!texts) return E_OUTOFMEMORY;

    delete[] m_names;
    delete[] m_texts;
    m_names = names.release();
    m_texts = texts.release();
    nameCopy.release();
    textCopy.release();
    ++m_count;
    return S_OK;
}

void ReplacementMap::Clear() {
    for (size_t i = 0; i < m_count; ++i) {
        delete[] m_names[i];
        delete[] m_texts[i];
    }
    delete[] m_names;
    delete[] m_texts;
    m_names = nullptr;
    m_texts = nullptr;
    m_count = 0;
}

const wchar_t* ReplacementMap::Find(const wchar_t* name, size_t length) const {
    for (size_t i = 0; i < m_count; ++i) {
        if (CompareStringOrdinal(name, static_cast<int>(length), m_names[i], -1, TRUE) ==
            CSTR_EQUAL)
            return m_texts[i];
    }
    return nullptr;
}
