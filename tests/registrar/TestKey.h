// The registry read back as lines; a named view owns a key of its own, removed after.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

class TestKey {
public:
    explicit TestKey(HKEY key) : m_key(key) {}
    explicit TestKey(const wchar_t* name)
        : m_path(std::wstring(L"Software\\CorvaneTests\\") + name) {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        RegCreateKeyW(HKEY_CURRENT_USER, m_path.c_str(), &m_key);
    }
    ~TestKey() {
        if (m_path.empty()) return;
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;

    HKEY Get() const { return m_key; }

    // Whether `subkey` is there; with `create`, made first when it is not.
    bool Has(const std::wstring& subkey, bool create = false) const {
        HKEY key = nullptr;
        if ((create ? RegCreateKeyW(m_key, subkey.c_str(), &key)
                    : RegOpenKeyExW(m_key, subkey.c_str(), 0, KEY_READ, &key)) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    // Every key under `subkey` as its relative path, every value as "path[name]=" and type and
    // data ("s:text", "m:one\0two\0\0", "d:20000000", "b:0aff"): exact sets catch stale ones.
    std::set<std::wstring> Tree(const std::wstring& subkey = L"") const {
        std::set<std::wstring> lines;
        AddTree(m_key, subkey, L"", lines);
        return lines;
    }

private:
    static void AddTree(HKEY parent, const std::wstring& name, const std::wstring& path,
                        std::set<std::wstring>& lines) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        std::vector<wchar_t> found(16384);
        std::vector<BYTE> data(65536);
        DWORD length = 0, size = 0, type = 0;
        for (DWORD i = 0; length = DWORD(found.size()), size = DWORD(data.size()),
             RegEnumValueW(key, i, found.data(), &length, nullptr, &type, data.data(), &size) ==
                 ERROR_SUCCESS; ++i)
            lines.insert(path + L"[" + found.data() + L"]=" + Render(type, data.data(), size));
        for (DWORD i = 0; length = DWORD(found.size()),
             RegEnumKeyExW(key, i, found.data(), &length, nullptr, nullptr, nullptr, nullptr) ==
                 ERROR_SUCCESS; ++i) {
            const std::wstring child = path.empty() ? found.data() : path + L"\\" + found.data();
            lines.insert(child);
            AddTree(key, found.data(), child, lines);
        }
        RegCloseKey(key);
    }

    static std::wstring Render(DWORD type, const BYTE* data, DWORD size) {
        std::wstring text;
        wchar_t digits[16];
        if (type == REG_SZ || type == REG_MULTI_SZ) {
            std::wstring units(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
            // A string's terminators are not part of its text; a list's are.
            if (type == REG_SZ) units.erase(units.find_last_not_of(L'\0') + 1);
            for (wchar_t unit : units) text += unit ? std::wstring(1, unit) : L"\\0";
            return (type == REG_SZ ? L"s:" : L"m:") + text;
        }
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            swprintf(digits, 16, L"%x", *reinterpret_cast<const DWORD*>(data));
            return std::wstring(L"d:") + digits;
        }
        for (DWORD i = 0; i < size; ++i) text += (swprintf(digits, 16, L"%02x", data[i]), digits);
        return (type == REG_BINARY ? L"b:" : L"?" + std::to_wstring(type) + L":") + text;
    }

    HKEY m_key = nullptr;
    std::wstring m_path;
};
