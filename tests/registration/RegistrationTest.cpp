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

const TestKey kClasses(HKEY_CLASSES_ROOT);
const std::wstring kClassKey = L"CLSID\\{7AB84743-C00F-461C-A671-C7D161463E51}";
// {5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}
const GUID kTestLibrary = {0x5e1f0c3a, 0x9b7d, 0x4c21, {0x8e, 0x44, 0x2a, 0x6b, 0x9d, 0x0f, 0x7c, 0x15}};
const std::wstring kTestLibraryKey = L"TypeLib\\{5E1F0C3A-9B7D-4C21-8E44-2A6B9D0F7C15}";

// Writes a type library holding only its name and identity to `path`, and registers it.
bool RegisterTypeLibrary(const std::wstring& path) {
    ICreateTypeLib2* creator = nullptr;
    if (FAILED(CreateTypeLib2(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, path.c_str(), &creator)))
        return false;
    wchar_t name[] = L"CorvaneTestLibrary";
    const bool written = SUCCEEDED(creator->SetGuid(kTestLibrary)) &&
                         SUCCEEDED(creator->SetName(name)) &&
                         SUCCEEDED(creator->SetVersion(1, 0)) &&
                         SUCCEEDED(creator->SetLcid(0)) && SUCCEEDED(creator->SaveAllChanges());
    creator->Release();
    ITypeLib* loaded = nullptr;
    if (!written || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &loaded))) return false;
    loaded->Release();
    return kClasses.Has(kTestLibraryKey);
}

using Export = HRESULT(WINAPI*)();

}  // namespace

// Registration leaves a type library beside the DLL alone; unregistration removes it, has
// nothing more to do when there is none, and reports one found that cannot be read, after
// the class's keys went.
TEST(FolderDll, RegistersItsPathIntactAndUnregistersWithItsTypeLibrary) {
    wchar_t program[MAX_PATH], temporary[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    GetTempPathW(MAX_PATH, temporary);
    const std::wstring programFolder(program, wcsrchr(program, L'\\') + 1);
    const std::wstring folder = std::wstring(temporary) + L"it's Corvane\\";
    const std::wstring path = folder + L"ZeroconfNeighborhood.dll";
    const std::wstring library = folder + L"ZeroconfNeighborhood.tlb";
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW(library.c_str());
    for (const wchar_t* file : {L"ZeroconfNeighborhood.dll", L"mDNS.dll"})
        ASSERT_TRUE(CopyFileW((programFolder + file).c_str(), (folder + file).c_str(), FALSE));
    const HMODULE dll = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, dll);
    const auto entry = [dll](const char* name) {
        return reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    };
    const Export registerServer = entry("DllRegisterServer");
    const Export unregisterServer = entry("DllUnregisterServer");

    const std::set<std::wstring> classTree = {
        L"[]=s:My Zeroconf Neighborhood", L"DefaultIcon", L"DefaultIcon[]=s:" + path,
        L"InprocServer32", L"InprocServer32[]=s:" + path,
        L"InprocServer32[ThreadingModel]=s:Apartment", L"ShellFolder",
        L"ShellFolder[Attributes]=d:20000000"};
    enum Library { kNone, kRegistered, kUnreadable };
    for (Library kind : {kNone, kRegistered, kUnreadable}) {
        SCOPED_TRACE(kind);
        if (kind == kRegistered) {
            ASSERT_TRUE(RegisterTypeLibrary(library));
        } else if (kind == kUnreadable) {  // a file that holds no type library
            ASSERT_TRUE(CopyFileW((folder + L"mDNS.dll").c_str(), library.c_str(), FALSE));
        }
        ASSERT_EQ(S_OK, registerServer());
        // A stale subtree under the class key vanishes when it is written again.
        ASSERT_TRUE(kClasses.Has(kClassKey + L"\\Stale\\Deeper", true));
        ASSERT_EQ(S_OK, registerServer());
        EXPECT_EQ(classTree, kClasses.Tree(kClassKey));
        EXPECT_EQ(kind == kRegistered, kClasses.Has(kTestLibraryKey + L"\\1.0"));

        const HRESULT hr = unregisterServer();
        EXPECT_TRUE(kind == kUnreadable ? FAILED(hr) : hr == S_OK) << std::hex << hr;
        EXPECT_FALSE(kClasses.Has(kClassKey));
        EXPECT_TRUE(kClasses.Has(L"CLSID"));
        EXPECT_FALSE(kClasses.Has(kTestLibraryKey + L"\\1.0"));
        DeleteFileW(library.c_str());
    }
    FreeLibrary(dll);
}

TEST(ObjectMapRegistration, MissingScriptResourceWritesNothing) {
    // This program carries no resources: its module's script cannot be found.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
    const HRESULT hr = DllRegisterServer();
    EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND) ||
                hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND))
        << std::hex << hr;
    EXPECT_FALSE(kClasses.Has(kClassKey));
    EXPECT_EQ(hr, DllUnregisterServer());
}
