// The compiled resources (linked into this program as into the DLL) and the loading of
// the registration script from a module's file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "module/CRegObject.h"
#include "module/ScriptLoading.h"
#include "tests/registrar/TestKey.h"

namespace {

// The 18 lines of the script, each ended by CR LF, indented with tabs.
const char kScriptBytes[] =
    "HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n"
    "\t\tForceRemove '{7AB84743-C00F-461C-A671-C7D161463E51}' = s 'My Zeroconf Neighborhood'\r\n"
    "\t\t{\r\n\t\t\t'DefaultIcon' = s '%MODULE%'\r\n\t\t\t'InprocServer32' = s '%MODULE%'\r\n"
    "\t\t\t{\r\n\t\t\t\tval 'ThreadingModel' = s 'Apartment'\r\n\t\t\t}\r\n"
    "\t\t\t'ShellFolder'\r\n\t\t\t{\r\n\t\t\t\tval 'Attributes' = d '&H20000000'\r\n"
    "\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n";

std::vector<BYTE> ResourceBytes(const wchar_t* name, const wchar_t* type) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    return std::vector<BYTE>(data, data + SizeofResource(nullptr, found));
}

std::wstring ThisProgramPath() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

TEST(Resources, ScriptIsTheEighteenLinesByteForByte) {
    const std::vector<BYTE> script = ResourceBytes(MAKEINTRESOURCEW(103), L"REGISTRY");
    ASSERT_EQ(sizeof(kScriptBytes) - 1, script.size());
    EXPECT_EQ(0, std::memcmp(kScriptBytes, script.data(), script.size()));
}

TEST(Resources, IconStringAndVersion) {
    const std::vector<BYTE> group = ResourceBytes(MAKEINTRESOURCEW(207), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u + 3 * sizeof(IconGroupEntry));
    const WORD* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(1, header[1]);
    ASSERT_EQ(3, header[2]);
    const IconGroupEntry* entries = reinterpret_cast<const IconGroupEntry*>(group.data() + 6);
    const struct { BYTE size; WORD bits; } expected[] = {{16, 4}, {32, 4}, {48, 8}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i].size, entries[i].width);
        EXPECT_EQ(expected[i].size, entries[i].height);
        EXPECT_EQ(expected[i].bits, entries[i].bitCount);
        EXPECT_EQ(entries[i].bytesInResource,
                  ResourceBytes(MAKEINTRESOURCEW(entries[i].id), RT_ICON).size());
    }
    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(207), IMAGE_ICON, 48, 48, 0));
    EXPECT_NE(nullptr, icon);
    if (icon) DestroyIcon(icon);

    wchar_t name[32] = {};
    EXPECT_EQ(7, LoadStringW(GetModuleHandleW(nullptr), 100, name, 32));
    EXPECT_STREQ(L"Corvane", name);

    const std::wstring path = ThisProgramPath();
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, DWORD(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    wchar_t* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ((std::vector<DWORD>{0x00010000u, 0u, 0x00010000u, 0u}),
              (std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS}));
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(L"My Zeroconf Neighborhood", product);
}

// Registering again over a stale subtree and unregistering twice are checked through the
// DLL's exports in the registration tests.
TEST(ScriptLoading, RunsTheScriptOfThisModuleWithItsPath) {
    TestKey key(L"ModuleScript");
    const std::wstring otherClass = L"CLSID\\{00000000-0000-0000-0000-000000000001}";
    ASSERT_TRUE(key.Create(otherClass));
    CRegObject registrar;
    registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    ASSERT_EQ(S_OK, RunModuleScript(registrar, GetModuleHandleW(nullptr), 103, true));
    EXPECT_EQ(FolderClassTree(ThisProgramPath()), key.Tree(kClassKey));
    ASSERT_EQ(2u, registrar.Replacements().Count());
    EXPECT_EQ(ThisProgramPath(), registrar.Replacements().Find(L"Module_Raw", 10));

    // Unregistering keeps CLSID and the other classes in it.
    CRegObject unregistrar;
    unregistrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    ASSERT_EQ(S_OK, RunModuleScript(unregistrar, GetModuleHandleW(nullptr), 103, false));
    EXPECT_EQ((std::set<std::wstring>{L"CLSID", otherClass}), key.Tree());
}

TEST(ScriptLoading, MissingResourceOrFileWritesNothing) {
    TestKey key(L"MissingScript");
    CRegObject registrar;
    registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              RunModuleScript(registrar, GetModuleHandleW(nullptr), 104, true));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND),
              registrar.RegisterFromResource(ThisProgramPath().c_str(), 103, L"NO_SUCH_TYPE", true));
    EXPECT_TRUE(FAILED(registrar.RegisterFromResource(L"C:\\no\\such\\file.dll", 103,
                                                      kScriptResourceType, true)));
    EXPECT_EQ(std::set<std::wstring>{}, key.Tree());
}

}  // namespace
