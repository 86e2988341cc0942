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
    "HKCR\r\n"
    "{\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove '{7AB84743-C00F-461C-A671-C7D161463E51}' = s 'My Zeroconf Neighborhood'\r\n"
    "\t\t{\r\n"
    "\t\t\t'DefaultIcon' = s '%MODULE%'\r\n"
    "\t\t\t'InprocServer32' = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval 'ThreadingModel' = s 'Apartment'\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'ShellFolder'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval 'Attributes' = d '&H20000000'\r\n"
    "\t\t\t}\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

const wchar_t kClassKey[] = L"CLSID\\{7AB84743-C00F-461C-A671-C7D161463E51}";

std::vector<BYTE> ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return {};
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return std::vector<BYTE>(data, data + SizeofResource(module, found));
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

}  // namespace

TEST(Resources, ScriptIsTheEighteenLinesByteForByte) {
    const std::vector<BYTE> script = ResourceBytes(nullptr, MAKEINTRESOURCEW(103), L"REGISTRY");
    ASSERT_EQ(326u, script.size());
    ASSERT_EQ(sizeof(kScriptBytes) - 1, script.size());
    EXPECT_EQ(0, std::memcmp(kScriptBytes, script.data(), script.size()));
    int lines = 0;
    for (size_t i = 0; i + 1 < script.size(); ++i) lines += script[i] == '\r' && script[i + 1] == '\n';
    EXPECT_EQ(18, lines);
}

TEST(Resources, IconStringAndVersion) {
    const std::vector<BYTE> group = ResourceBytes(nullptr, MAKEINTRESOURCEW(207), RT_GROUP_ICON);
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
        const std::vector<BYTE> image =
            ResourceBytes(nullptr, MAKEINTRESOURCEW(entries[i].id), RT_ICON);
        EXPECT_EQ(entries[i].bytesInResource, image.size());
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
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    wchar_t* product = nullptr;
    UINT productLength = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &productLength));
    EXPECT_STREQ(L"My Zeroconf Neighborhood", product);
}

TEST(ScriptLoading, RunsTheScriptOfThisModuleWithItsPath) {
    TestKey key(L"ModuleScript");
    CRegObject registrar;
    registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    ASSERT_EQ(S_OK, RunModuleScript(registrar, GetModuleHandleW(nullptr), 103, true));
    const std::wstring classKey = kClassKey;
    EXPECT_EQ(L"My Zeroconf Neighborhood", key.ReadString(kClassKey, nullptr));
    EXPECT_EQ(ThisProgramPath(), key.ReadString((classKey + L"\\DefaultIcon").c_str(), nullptr));
    EXPECT_EQ(ThisProgramPath(), key.ReadString((classKey + L"\\InprocServer32").c_str(), nullptr));
    EXPECT_EQ(0x20000000u, key.ReadNumber((classKey + L"\\ShellFolder").c_str(), L"Attributes"));
    ASSERT_EQ(2u, registrar.Replacements().Count());
    EXPECT_EQ(ThisProgramPath(), registrar.Replacements().Find(L"Module_Raw", 10));

    CRegObject unregistrar;
    unregistrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    ASSERT_EQ(S_OK, RunModuleScript(unregistrar, GetModuleHandleW(nullptr), 103, false));
    EXPECT_FALSE(key.Exists(kClassKey));
    EXPECT_TRUE(key.Exists(L"CLSID"));
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
    EXPECT_EQ(0u, key.CountSubkeys(nullptr));
}
