#include "module/RegParser.h"

#include <oleauto.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <new>

#include "module/RegistryResult.h"

namespace {

bool EqualsNoCase(const wchar_t* first, const wchar_t* second) {
    return CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// The expanded script while it is written: task-allocator memory that doubles as it grows.
class ScriptBuffer {
public:
    ScriptBuffer() = default;
    ScriptBuffer(const ScriptBuffer&) = delete;
    ScriptBuffer& operator=(const ScriptBuffer&) = delete;

    HRESULT Reserve(size_t capacity) {
        *m_text.Put() = static_cast<wchar_t*>(CoTaskMemAlloc(capacity * sizeof(wchar_t)));
        if (!m_text.Get()) return E_OUTOFMEMORY;
        m_capacity = capacity;
        m_length = 0;
        m_text.Get()[0] = L'\0';
        return S_OK;
    }

    HRESULT Append(const wchar_t* characters, size_t count) {
        if (m_length + count + 1 > m_capacity) {
            size_t capacity = m_capacity;
            while (m_length + count + 1 > capacity) {
                if (capacity > SIZE_MAX / (2 * sizeof(wchar_t))) return Fail();
                capacity *= 2;
            }
            void* grown = CoTaskMemRealloc(m_text.Get(), capacity * sizeof(wchar_t));
            if (!grown) return Fail();
            m_text.Detach();
            *m_text.Put() = static_cast<wchar_t*>(grown);
            m_capacity = capacity;
        }
        wmemcpy(m_text.Get() + m_length, characters, count);
        m_length += count;
        m_text.Get()[m_length] = L'\0';
        return S_OK;
    }

    wchar_t* Detach() { return m_text.Detach(); }

private:
    // What there was is freed, so a failed expansion leaves nothing behind.
    HRESULT Fail() {
        m_text.Put();
        m_capacity = 0;
        m_length = 0;
        return E_OUTOFMEMORY;
    }

    TaskMemPtr<wchar_t> m_text;
    size_t m_capacity = 0;
    size_t m_length = 0;
};

// The block's current key, closed on every way out.
class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() { Close(); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    HKEY Get() const { return m_key; }
    void Reset(HKEY key) {
        Close();
        m_key = key;
    }
    LONG Close() {
        if (!m_key) return ERROR_SUCCESS;
        const LONG result = RegCloseKey(m_key);
        m_key = nullptr;
        return result;
    }

private:
    HKEY m_key = nullptr;
};

struct RootKeyName {
    const wchar_t* shortName;
    const wchar_t* longName;
    HKEY key;
};

const RootKeyName kRootKeys[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", L"HKEY_USERS", HKEY_USERS},
    {L"HKPD", L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKDD", L"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {L"HKCC", L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Keys that a script names as parents of its own: ForceRemove and Delete never remove them.
const wchar_t* const kProtectedKeys[] = {
    L"AppID", L"CLSID",    L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime",  L"SAM",      L"SECURITY",             L"SYSTEM",   L"Software",  L"TypeLib",
};

bool ValueTypeFromLetter(const wchar_t* token, DWORD* type) {
    if (token[0] == L'\0' || token[1] != L'\0') return false;
    switch (token[0]) {
        case L's': case L'S': *type = REG_SZ; return true;
        case L'm': case L'M': *type = REG_MULTI_SZ; return true;
        case L'd': case L'D': *type = REG_DWORD; return true;
        case L'b': case L'B': *type = REG_BINARY; return true;
        default: return false;
    }
}

BYTE HexDigitValue(wchar_t digit) {
    if (digit >= L'0' && digit <= L'9') return static_cast<BYTE>(digit - L'0');
    if (digit >= L'a' && digit <= L'f') return static_cast<BYTE>(digit - L'a' + 10);
    if (digit >= L'A' && digit <= L'F') return static_cast<BYTE>(digit - L'A' + 10);
    return 0;
}

DWORD ByteCount(size_t units) { return static_cast<DWORD>(units * sizeof(wchar_t)); }

// The strings of an "m" value: "\0" separates them, and the value ends at the first empty one.
LONG WriteMultiString(HKEY key, const wchar_t* name, const wchar_t* text) {
    const size_t length = wcslen(text);
    std::unique_ptr<wchar_t[]> list(new (std::nothrow) wchar_t[length + 2]);
    if (!list) return ERROR_OUTOFMEMORY;
    size_t used = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\\' && text[i + 1] == L'0') {
            list[used++] = L'\0';
            ++i;
        } else {
            list[used++] = text[i];
        }
    }
    list[used++] = L'\0';
    list[used++] = L'\0';

    size_t end = 0;
    while (list[end] != L'\0') end += wcslen(&list[end]) + 1;
    return RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.get()),
                          ByteCount(end + 1));
}

}  // namespace

bool RegParser::IsProtectedKey(const wchar_t* name) {
    for (const wchar_t* protectedName : kProtectedKeys)
        if (EqualsNoCase(name, protectedName)) return true;
    return false;
}

HKEY RegParser::RootKeyFromName(const wchar_t* name) {
    for (const RootKeyName& root : kRootKeys)
        if (EqualsNoCase(name, root.shortName) || EqualsNoCase(name, root.longName))
            return root.key;
    return nullptr;
}

HRESULT RegParser::ExpandReplacements(const wchar_t* script, TaskMemPtr<wchar_t>& expanded) const {
    expanded.Put();
    const size_t length = wcslen(script);
    size_t capacity = 2 * length;
    if (capacity < 100) capacity = 1000;

    ScriptBuffer buffer;
    HRESULT hr = buffer.Reserve(capacity);
    if (FAILED(hr)) return hr;

    const wchar_t* position = script;
    while (*position) {
        if (*position != L'%') {
            hr = buffer.Append(position, 1);
            if (FAILED(hr)) return hr;
            ++position;
            continue;
        }
        if (position[1] == L'%') {
            hr = buffer.Append(L"%", 1);
            if (FAILED(hr)) return hr;
            position += 2;
            continue;
        }
        const wchar_t* name = position + 1;
        const wchar_t* end = name;
        while (*end && *end != L'%') {
            if (static_cast<size_t>(end - name) >= kMaxReplacementName) return E_FAIL;
            ++end;
        }
        if (!*end) return DISP_E_EXCEPTION;
        const wchar_t* text = m_registrar.Replacements().Find(name, end - name);
        if (!text) return DISP_E_EXCEPTION;
        hr = buffer.Append(text, wcslen(text));
        if (FAILED(hr)) return hr;
        position = end + 1;
    }
    *expanded.Put() = buffer.Detach();
    return S_OK;
}

void RegParser::SkipWhiteSpace() {
    while (IsWhiteSpace(*m_position)) ++m_position;
}

HRESULT RegParser::NextToken(wchar_t* token) {
    SkipWhiteSpace();
    token[0] = L'\0';
    if (!*m_position) return DISP_E_EXCEPTION;

    size_t length = 0;
    // Copies the character at the current position, however many units it takes.
    auto copyCharacter = [&]() -> bool {
        const wchar_t* next = CharNextW(m_position);
        if (next == m_position) next = m_position + 1;
        for (; m_position < next; ++m_position) {
            if (length >= kMaxTokenLength) return false;
            token[length++] = *m_position;
        }
        return true;
    };

    if (*m_position == L'\'') {
        ++m_position;
        for (;;) {
            if (!*m_position) {
                token[length] = L'\0';
                return DISP_E_EXCEPTION;
            }
            if (*m_position == L'\'') {
                if (m_position[1] != L'\'') {
                    ++m_position;
                    break;
                }
                ++m_position;  // the second quote of the pair is copied as the one
            }
            if (!copyCharacter()) {
                token[length] = L'\0';
                return DISP_E_EXCEPTION;
            }
        }
    } else {
        while (*m_position && !IsWhiteSpace(*m_position)) {
            if (!copyCharacter()) {
                token[length] = L'\0';
                return DISP_E_EXCEPTION;
            }
        }
    }
    token[length] = L'\0';
    return S_OK;
}

HRESULT RegParser::SkipAssignment(wchar_t* token) {
    if (token[0] != L'=') return S_OK;
    HRESULT hr = NextToken(token);
    if (FAILED(hr)) return hr;
    SkipWhiteSpace();
    wchar_t value[kTokenBufferLength];
    hr = NextToken(value);
    if (FAILED(hr)) return hr;
    return NextToken(token);
}

HRESULT RegParser::SetValueFromScript(HKEY key, const wchar_t* valueName, wchar_t* token) {
    HRESULT hr = NextToken(token);
    if (FAILED(hr)) return hr;
    DWORD type = REG_NONE;
    if (!ValueTypeFromLetter(token, &type)) return DISP_E_EXCEPTION;
    SkipWhiteSpace();
    hr = NextToken(token);
    if (FAILED(hr)) return hr;

    LONG result = ERROR_SUCCESS;
    switch (type) {
        case REG_SZ:
            result = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(token),
                                    ByteCount(wcslen(token) + 1));
            break;
        case REG_MULTI_SZ:
            result = WriteMultiString(key, valueName, token);
            break;
        case REG_DWORD: {
            ULONG number = 0;
            hr = VarUI4FromStr(token, 0, 0, &number);
            if (FAILED(hr)) return hr;
            const DWORD value = number;
            result = RegSetValueExW(key, valueName, 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&value), sizeof(value));
            break;
        }
        case REG_BINARY: {
            const size_t digits = wcslen(token);
            if (digits % 2 != 0) return E_FAIL;
            const size_t count = digits / 2;
            std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[count + 1]);
            if (!bytes) return E_FAIL;
            for (size_t i = 0; i < count; ++i)
                bytes[i] = static_cast<BYTE>(HexDigitValue(token[2 * i]) << 4 |
                                             HexDigitValue(token[2 * i + 1]));
            result = RegSetValueExW(key, valueName, 0, REG_BINARY, bytes.get(),
                                    static_cast<DWORD>(count));
            break;
        }
    }
    if (result != ERROR_SUCCESS) return HResultFromError(result);
    return NextToken(token);
}

LONG RegParser::DeleteKeyTree(HKEY parent, const wchar_t* name) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (result != ERROR_SUCCESS) return result;
    for (;;) {
        wchar_t subkey[256];
        DWORD length = 256;
        result = RegEnumKeyExW(key, 0, subkey, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS) result = DeleteKeyTree(key, subkey);
        if (result != ERROR_SUCCESS) {
            RegCloseKey(key);
            return result;
        }
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

HRESULT RegParser::ProcessKeyBlock(wchar_t* token, HKEY parent, bool registering,
                                   bool recovering) {
    HRESULT hr = NextToken(token);
    if (FAILED(hr)) return hr;
    OpenKey current;

    while (token[0] != L'}') {
        bool deleteAllowed = true;
        // Set when the entry wrote nothing of its own to open: only its block may follow.
        bool entryDone = false;

        if (EqualsNoCase(token, L"ForceRemove") || EqualsNoCase(token, L"Delete")) {
            const bool deleteOnly = EqualsNoCase(token, L"Delete");
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
            if (registering) {
                if (wcschr(token, L'\\')) return DISP_E_EXCEPTION;
                if (!IsProtectedKey(token)) DeleteKeyTree(parent, token);
                if (deleteOnly) {
                    hr = NextToken(token);
                    if (FAILED(hr)) return hr;
                    hr = SkipAssignment(token);
                    if (FAILED(hr)) return hr;
                    entryDone = true;
                }
            }
        }

        if (!entryDone && EqualsNoCase(token, L"NoRemove")) {
            deleteAllowed = false;
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
        }

        if (!entryDone && EqualsNoCase(token, L"Val")) {
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
            // The name must fit its buffer whole: a cut name would write another value.
            if (wcslen(token) >= kValueNameBufferLength) return DISP_E_EXCEPTION;
            wchar_t valueName[kValueNameBufferLength];
            wcscpy(valueName, token);
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
            if (token[0] != L'=') return DISP_E_EXCEPTION;

            if (registering) {
                hr = SetValueFromScript(parent, valueName, token);
                if (FAILED(hr)) return hr;
                entryDone = true;
            } else {
                if (!recovering && deleteAllowed) {
                    HKEY writable = nullptr;
                    LONG result = RegOpenKeyExW(parent, nullptr, 0, KEY_WRITE, &writable);
                    if (result != ERROR_SUCCESS) return HResultFromError(result);
                    result = RegDeleteValueW(writable, valueName);
                    RegCloseKey(writable);
                    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
                        return HResultFromError(result);
                }
                hr = SkipAssignment(token);
                if (FAILED(hr)) return hr;
                continue;
            }
        }

        if (!entryDone) {
            if (wcschr(token, L'\\')) return DISP_E_EXCEPTION;

            if (!registering) {
                OpenKey subkey;
                LONG openResult = ERROR_FILE_NOT_FOUND;
                bool entryRecovering = recovering;
                if (!recovering) {
                    HKEY key = nullptr;
                    openResult = RegOpenKeyExW(parent, token, 0, KEY_READ, &key);
                    if (openResult == ERROR_SUCCESS)
                        subkey.Reset(key);
                    else
                        entryRecovering = true;
                }
                wchar_t keyName[kValueNameBufferLength];
                lstrcpynW(keyName, token, kValueNameBufferLength);

                hr = NextToken(token);
                if (FAILED(hr)) return hr;
                hr = SkipAssignment(token);
                if (FAILED(hr)) return hr;
                if (token[0] == L'{') {
                    hr = ProcessKeyBlock(token, subkey.Get(), false, entryRecovering);
                    if (FAILED(hr) && !entryRecovering) return hr;
                    hr = NextToken(token);
                    if (FAILED(hr)) return hr;
                }

                if (openResult == ERROR_FILE_NOT_FOUND) continue;
                if (openResult != ERROR_SUCCESS) return HResultFromError(openResult);
                const LONG closeResult = subkey.Close();
                if (closeResult != ERROR_SUCCESS) return HResultFromError(closeResult);
                if (deleteAllowed) {
                    const LONG deleteResult = RegDeleteKeyW(parent, keyName);
                    if (deleteResult != ERROR_SUCCESS) return HResultFromError(deleteResult);
                }
                continue;
            }

            HKEY key = nullptr;
            LONG result = RegOpenKeyExW(parent, token, 0, KEY_READ | KEY_WRITE, &key);
            if (result != ERROR_SUCCESS) result = RegOpenKeyExW(parent, token, 0, KEY_READ, &key);
            if (result != ERROR_SUCCESS)
                result = RegCreateKeyExW(parent, token, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
            if (result != ERROR_SUCCESS) return HResultFromError(result);
            current.Reset(key);
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
            if (token[0] == L'=') {
                hr = SetValueFromScript(current.Get(), nullptr, token);
                if (FAILED(hr)) return hr;
            }
        }

        // Only a lone "{" opens a block when registering.
        if (registering && token[0] == L'{' && token[1] == L'\0') {
            hr = ProcessKeyBlock(token, current.Get(), true, false);
            if (FAILED(hr)) return hr;
            hr = NextToken(token);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT RegParser::RunScript(const wchar_t* script, bool registering) {
    TaskMemPtr<wchar_t> expanded;
    HRESULT hr = ExpandReplacements(script, expanded);
    if (FAILED(hr)) return hr;
    if (expanded.Get()[0] == L'\0') return S_OK;

    m_position = expanded.Get();
    wchar_t token[kTokenBufferLength];
    for (;;) {
        hr = NextToken(token);
        if (FAILED(hr)) break;
        HKEY root = RootKeyFromName(token);
        if (!root) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        const RootKeyRedirect& redirect = m_registrar.Redirect();
        if (redirect.target && root == redirect.root) root = redirect.target;

        hr = NextToken(token);
        if (FAILED(hr)) break;
        if (token[0] != L'{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (registering) {
            const wchar_t* blockStart = m_position;
            hr = ProcessKeyBlock(token, root, true, false);
            if (FAILED(hr)) {
                // Take back what this block wrote before it failed.
                m_position = blockStart;
                ProcessKeyBlock(token, root, false, false);
                break;
            }
        } else {
            hr = ProcessKeyBlock(token, root, false, false);
            if (FAILED(hr)) break;
        }
        SkipWhiteSpace();
        if (!*m_position) break;
    }
    m_position = nullptr;
    return hr;
}
