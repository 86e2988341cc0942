// DllRegisterServer and DllUnregisterServer of the folder DLL, copied with the scripted
// mDNS.dll into a folder whose name holds a single quote, against the private prefix's
// real HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "module/ObjectMapRegistration.h"

namespace {

const wchar_t kClassKey[] = L"CLSID\\{7AB84743-C00F-461C-A671-C7D161463E51}";
// {5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}
const GUID kTestLibrary = {0x5e1f0c3a, 0x9b7d, 0x4c21, {0x8e, 0x44, 0x2a, 0x6b, 0x9d, 0x0f, 0x7c, 0x15}};
const wchar_t kTestLibraryKey[] = L"TypeLib\\{5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}";

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::wstring ReadString(const std::wstring& path, const wchar_t* name) {
    wchar_t text[1024] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return L"<absent>";
    return text;
}

DWORD ReadNumber(const std::wstring& path, const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0xDEADBEEF;
    return value;
}

DWORD CountSubkeys(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\') + 1); }

// Writes a type library holding only its name and identity to `path`.
bool WriteTypeLibrary(const std::wstring& path) {
    ICreateTypeLib2* creator = nullptr;
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    if (FAILED(CreateTypeLib2(kind, path.c_str(), &creator))) return false;
    wchar_t name[] = L"CorvaneTestLibrary";
    const bool written = SUCCEEDED(creator->SetGuid(kTestLibrary)) &&
                         SUCCEEDED(creator->SetName(name)) &&
                         SUCCEEDED(creator->SetVersion(1, 0)) &&
                         SUCCEEDED(creator->SetLcid(0)) && SUCCEEDED(creator->SaveAllChanges());
    creator->Release();
    return written;
}

class FolderDll : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t program[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        wchar_t temporary[MAX_PATH];
        GetTempPathW(MAX_PATH, temporary);
        m_folder = std::wstring(temporary) + L"it's Corvane\\";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        m_path = m_folder + L"ZeroconfNeighborhood.dll";
        DeleteFileW((m_folder + L"ZeroconfNeighborhood.tlb").c_str());
        ASSERT_TRUE(CopyFileW((FolderOf(program) + L"ZeroconfNeighborhood.dll").c_str(),
                              m_path.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((FolderOf(program) + L"mDNS.dll").c_str(),
                              (m_folder + L"mDNS.dll").c_str(), FALSE));
        m_dll = LoadLibraryW(m_path.c_str());
        ASSERT_NE(nullptr, m_dll);
        m_register = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllRegisterServer")));
        m_unregister = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(m_dll, "DllUnregisterServer")));
        ASSERT_NE(nullptr, m_register);
        ASSERT_NE(nullptr, m_unregister);
    }
    void TearDown() override {
        if (m_dll) FreeLibrary(m_dll);
        DeleteFileW((m_folder + L"ZeroconfNeighborhood.tlb").c_str());
    }

    std::wstring m_folder;
    std::wstring m_path;
    HMODULE m_dll = nullptr;
    HRESULT(WINAPI* m_register)() = nullptr;
    HRESULT(WINAPI* m_unregister)() = nullptr;
};

}  // namespace

TEST_F(FolderDll, RegistersItsPathIntactTwiceAndUnregistersTwice) {
    const std::wstring classKey = kClassKey;
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(L"My Zeroconf Neighborhood", ReadString(classKey, nullptr));
    EXPECT_EQ(m_path, ReadString(classKey + L"\\DefaultIcon", nullptr));
    EXPECT_EQ(m_path, ReadString(classKey + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", ReadString(classKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(0x20000000u, ReadNumber(classKey + L"\\ShellFolder", L"Attributes"));
    EXPECT_EQ(3u, CountSubkeys(classKey));

    HKEY stale = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (classKey + L"\\Stale").c_str(), 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale, nullptr));
    RegCloseKey(stale);
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(3u, CountSubkeys(classKey));
    EXPECT_FALSE(KeyExists(classKey + L"\\Stale"));

    // No type library anywhere: unregistration has nothing more to do and succeeds.
    EXPECT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(KeyExists(classKey));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(KeyExists(classKey));
}

TEST_F(FolderDll, UnregistrationRemovesATypeLibraryBesideIt) {
    const std::wstring library = m_folder + L"ZeroconfNeighborhood.tlb";
    ASSERT_TRUE(WriteTypeLibrary(library));
    ITypeLib* loaded = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(library.c_str(), REGKIND_REGISTER, &loaded));
    loaded->Release();
    ASSERT_TRUE(KeyExists(kTestLibraryKey));

    ASSERT_EQ(S_OK, m_register());
    EXPECT_TRUE(KeyExists(kTestLibraryKey));  // registration leaves libraries alone
    EXPECT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists(std::wstring(kTestLibraryKey) + L"\\1.0"));
}

TEST_F(FolderDll, AFoundLibraryThatCannotBeReadIsReported) {
    const std::wstring library = m_folder + L"ZeroconfNeighborhood.tlb";
    HANDLE file = CreateFileW(library.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "not a type library", 18, &written, nullptr);
    CloseHandle(file);

    ASSERT_EQ(S_OK, m_register());
    const HRESULT hr = m_unregister();
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    // The class's keys went before the type-library step.
    EXPECT_FALSE(KeyExists(kClassKey));
}

TEST(ObjectMapRegistration, MissingScriptResourceWritesNothing) {
    // This program carries no resources: its module's script cannot be found.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    const HRESULT hr = DllRegisterServer();
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND))
        << std::hex << hr;
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_EQ(hr, DllUnregisterServer());
    EXPECT_EQ(S_OK, RegisterClassCategories(CLSID_NULL, nullptr, true));
    EXPECT_EQ(S_OK, RegisterClassCategories(CLSID_NULL, nullptr, false));
}
