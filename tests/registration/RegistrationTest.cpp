// The folder DLL's registration, copied into a folder whose name holds a quote, against the
// private prefix's real HKEY_CLASSES_ROOT.
#include <gtest/gtest.h>
#include <windows.h>
#include <olectl.h>

#include <string>

#include "tests/registrar/TestKey.h"

namespace {

const TestKey kClasses(HKEY_CLASSES_ROOT);
const std::wstring kClassKey = L"CLSID\\{7AB84743-C00F-461C-A671-C7D161463E51}";
using Export = HRESULT(WINAPI*)();

}  // namespace

// Unregistration has nothing more to do when the DLL has no type library, and reports a
// file beside it that cannot be read as one, after the class's keys went.
TEST(FolderDll, RegistersItsPathIntactAndUnregistersItsKeys) {
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
    for (bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable);
        // A file that holds no type library.
        ASSERT_TRUE(!unreadable || CopyFileW((folder + L"mDNS.dll").c_str(), library.c_str(), FALSE));
        ASSERT_EQ(S_OK, registerServer());
        // A stale subtree under the class key vanishes when it is written again.
        ASSERT_TRUE(kClasses.Has(kClassKey + L"\\Stale\\Deeper", true));
        ASSERT_EQ(S_OK, registerServer());
        EXPECT_EQ(classTree, kClasses.Tree(kClassKey));

        const HRESULT hr = unregisterServer();
        EXPECT_TRUE(unreadable ? FAILED(hr) : hr == S_OK) << std::hex << hr;
        EXPECT_FALSE(kClasses.Has(kClassKey));
        EXPECT_TRUE(kClasses.Has(L"CLSID"));
        DeleteFileW(library.c_str());
    }
    FreeLibrary(dll);
}
