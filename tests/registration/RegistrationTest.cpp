// DllRegisterServer and DllUnregisterServer of the folder DLL, copied with the scripted
// mDNS.dll into a folder whose name holds a single quote, against the private prefix's
// real HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "tests/registrar/TestKey.h"

namespace {

const KeyView kClasses(HKEY_CLASSES_ROOT);
// {5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}
const GUID kTestLibrary = {0x5e1f0c3a, 0x9b7d, 0x4c21, {0x8e, 0x44, 0x2a, 0x6b, 0x9d, 0x0f, 0x7c, 0x15}};
const wchar_t kTestLibraryKey[] = L"TypeLib\\{5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}";

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
        wchar_t program[MAX_PATH], temporary[MAX_PATH];
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        GetTempPathW(MAX_PATH, temporary);
        const std::wstring programFolder(program, wcsrchr(program, L'\\') + 1);
        m_folder = std::wstring(temporary) + L"it's Corvane\\";
        CreateDirectoryW(m_folder.c_str(), nullptr);
        m_path = m_folder + L"ZeroconfNeighborhood.dll";
        m_library = m_folder + L"ZeroconfNeighborhood.tlb";
        DeleteFileW(m_library.c_str());
        for (const wchar_t* file : {L"ZeroconfNeighborhood.dll", L"mDNS.dll"})
            ASSERT_TRUE(CopyFileW((programFolder + file).c_str(), (m_folder + file).c_str(), FALSE));
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
        DeleteFileW(m_library.c_str());
    }

    std::wstring m_folder, m_path, m_library;
    HMODULE m_dll = nullptr;
    HRESULT(WINAPI* m_register)() = nullptr;
    HRESULT(WINAPI* m_unregister)() = nullptr;
};

}  // namespace

TEST_F(FolderDll, RegistersItsPathIntactTwiceAndUnregistersTwice) {
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(FolderClassTree(m_path), kClasses.Tree(kClassKey));
    // A stale subtree under the class key vanishes when it is written again.
    ASSERT_TRUE(kClasses.Create(std::wstring(kClassKey) + L"\\Stale\\Deeper"));
    ASSERT_EQ(S_OK, m_register());
    EXPECT_EQ(FolderClassTree(m_path), kClasses.Tree(kClassKey));

    // No type library anywhere: unregistration has nothing more to do and succeeds.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(S_OK, m_unregister());
        EXPECT_FALSE(kClasses.Exists(kClassKey));
        EXPECT_TRUE(kClasses.Exists(L"CLSID"));
    }
}

TEST_F(FolderDll, UnregistrationRemovesATypeLibraryBesideIt) {
    ASSERT_TRUE(WriteTypeLibrary(m_library));
    ITypeLib* loaded = nullptr;
    ASSERT_EQ(S_OK, LoadTypeLibEx(m_library.c_str(), REGKIND_REGISTER, &loaded));
    loaded->Release();
    ASSERT_TRUE(kClasses.Exists(kTestLibraryKey));

    ASSERT_EQ(S_OK, m_register());
    EXPECT_TRUE(kClasses.Exists(kTestLibraryKey));  // registration leaves libraries alone
    EXPECT_EQ(S_OK, m_unregister());
    EXPECT_FALSE(kClasses.Exists(kClassKey));
    EXPECT_FALSE(kClasses.Exists(std::wstring(kTestLibraryKey) + L"\\1.0"));
}

TEST_F(FolderDll, AFoundLibraryThatCannotBeReadIsReported) {
    HANDLE file = CreateFileW(m_library.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "not a type library", 18, &written, nullptr);
    CloseHandle(file);

    ASSERT_EQ(S_OK, m_register());
    const HRESULT hr = m_unregister();
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    // The class's keys went before the type-library step.
    EXPECT_FALSE(kClasses.Exists(kClassKey));
}

TEST(ObjectMapRegistration, MissingScriptResourceWritesNothing) {
    // This program carries no resources: its module's script cannot be found.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    const HRESULT hr = DllRegisterServer();
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND))
        << std::hex << hr;
    EXPECT_FALSE(kClasses.Exists(kClassKey));
    EXPECT_EQ(hr, DllUnregisterServer());
}
