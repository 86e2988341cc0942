// A key of the test's own under HKEY_CURRENT_USER\Software\CorvaneTests, made empty for each
// test and removed after it, with readers for what a script left in it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TestKey {
public:
    explicit TestKey(const wchar_t* name) : m_path(std::wstring(L"Software\\CorvaneTests\\") + name) {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &m_key, nullptr);
    }
    ~TestKey() {
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    HKEY Get() const { return m_key; }

    bool Exists(const wchar_t* subkey) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(m_key, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    void Create(const wchar_t* subkey) const {
        HKEY key = nullptr;
        RegCreateKeyExW(m_key, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegCloseKey(key);
    }

    // The value's type and bytes; type REG_NONE and no bytes when it is absent.
    struct Value {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
    };
    Value Read(const wchar_t* subkey, const wchar_t* name) const {
        Value value;
        HKEY key = nullptr;
        if (RegOpenKeyExW(m_key, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
        DWORD size = 0;
        DWORD type = REG_NONE;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            value.bytes.resize(size);
            RegQueryValueExW(key, name, nullptr, &type, value.bytes.data(), &size);
            value.bytes.resize(size);
            value.type = type;
        }
        RegCloseKey(key);
        return value;
    }
    std::wstring ReadString(const wchar_t* subkey, const wchar_t* name) const {
        const Value value = Read(subkey, name);
        if (value.type != REG_SZ) return L"<absent>";
        std::wstring text(reinterpret_cast<const wchar_t*>(value.bytes.data()),
                          value.bytes.size() / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }
    DWORD ReadNumber(const wchar_t* subkey, const wchar_t* name) const {
        const Value value = Read(subkey, name);
        if (value.type != REG_DWORD || value.bytes.size() != 4) return 0xDEADBEEF;
        return *reinterpret_cast<const DWORD*>(value.bytes.data());
    }
    DWORD CountSubkeys(const wchar_t* subkey) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(m_key, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
        DWORD count = 0;
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr);
        RegCloseKey(key);
        return count;
    }

private:
    std::wstring m_path;
    HKEY m_key = nullptr;
};
