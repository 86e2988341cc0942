// Loading the registration script from a module's file: what cannot be found fails with
// the loader's error and writes nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "module/CRegObject.h"
#include "module/ScriptLoading.h"
#include "tests/registrar/TestKey.h"

namespace {

TEST(ScriptLoading, MissingResourceOrFileWritesNothing) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    TestKey key(L"MissingScript");
    CRegObject registrar;
    registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              RunModuleScript(registrar, GetModuleHandleW(nullptr), 104, true));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND),
              registrar.RegisterFromResource(program, 103, L"NO_SUCH_TYPE", true));
    EXPECT_TRUE(FAILED(registrar.RegisterFromResource(L"C:\\no\\such\\file.dll", 103,
                                                      kScriptResourceType, true)));
    EXPECT_EQ(std::set<std::wstring>{}, key.Tree());
}

}  // namespace
