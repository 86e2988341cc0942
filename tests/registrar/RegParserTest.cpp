// The script grammar and its registry effects, on a key of the test's own (HKCR redirected).
#include "module/RegParser.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "module/CRegObject.h"
#include "tests/registrar/TestKey.h"

namespace {

TEST(Registrar, ExpandsReplacements) {
    CRegObject registrar;
    const std::wstring name31(31, L'n'), name32(32, L'n'), longText(5000, L'x');
    const std::pair<std::wstring, std::wstring> replacements[] = {
        {L"Module", L"C:\\it''s\\x.dll"}, {L"APPID", L""}, {L"Module_Raw", L"raw %MODULE% stays"},
        {name31, L"31"}, {name32, L"32"}, {L"Long", longText}};
    for (const auto& [name, text] : replacements)
        ASSERT_EQ(S_OK, registrar.AddReplacement(name.c_str(), text.c_str()));

    const struct {
        std::wstring script, expanded;
        HRESULT result;
    } cases[] = {
        {L"'%MODULE%' 100%% [%APPID%]", L"'C:\\it''s\\x.dll' 100% []", S_OK},
        {L"%module_raw%", L"raw %MODULE% stays", S_OK},  // a replacement is not scanned again
        {L"%" + name31 + L"%", L"31", S_OK},
        {L"%" + name32 + L"%", L"<none>", E_FAIL},
        {L"%Unknown%", L"<none>", DISP_E_EXCEPTION},
        {L"'%MODULE", L"<none>", DISP_E_EXCEPTION},
        // Growth well past the first buffer keeps every character.
        {L"a%Long%b%Long%", L"a" + longText + L"b" + longText, S_OK},
    };
    for (const auto& c : cases) {
        RegParser parser(registrar);
        TaskMemPtr<wchar_t> expanded;
        EXPECT_EQ(c.result, parser.ExpandReplacements(c.script.c_str(), expanded)) << c.script;
        EXPECT_EQ(c.expanded, expanded.Get() ? std::wstring(expanded.Get()) : L"<none>");
    }
}

const bool kRegister = true, kUnregister = false;
const std::wstring kLongest(RegParser::kMaxTokenLength, L't');

const wchar_t kNoRemoveScript[] =
    L"HKCR { NoRemove Keep { val 'Gone' = s 'g' NoRemove val 'Kept' = s 'k' "
    L"'Sub' = s 'sub' { 'Leaf' } NoRemove 'Stays' } }";

// Keys made first, a script registered first, the script under test, its result, and all
// that is left under the test's key.
const struct ScriptCase {
    std::vector<std::wstring> made;
    std::wstring setUp, script;
    bool registering;
    HRESULT result;
    std::set<std::wstring> tree;
} kScriptCases[] = {
    {{}, kNoRemoveScript, kNoRemoveScript, kUnregister, S_OK,
     {L"Keep", L"Keep[Kept]=s:k", L"Keep\\Stays"}},
    // What is already gone is no failure.
    {{L"Keep"}, L"", kNoRemoveScript, kUnregister, S_OK, {L"Keep"}},
    // A key that still holds subkeys the script does not name is not removed: its failure.
    {{L"New\\Foreign"}, L"", L"HKCR { 'New' }", kUnregister,
     HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), {L"New", L"New\\Foreign"}},
    // ForceRemove leaves protected names and their subkeys alone.
    {{L"CLSID\\Other", L"Plain\\Other"}, L"",
     L"HKCR { ForceRemove CLSID { 'Mine' } ForceRemove Plain }", kRegister, S_OK,
     {L"CLSID", L"CLSID\\Other", L"CLSID\\Mine", L"Plain"}},
    {{}, L"",
     L"HKCR { 'V' { val List = m 'one\\0two\\0' val Same = m 'one\\0two' val Empty = m '' "
     L"val Cut = m 'a\\0\\0b' val Hex = d '&H20000000' val Text = s 'x y' } }",
     kRegister, S_OK,
     {L"V", L"V[List]=m:one\\0two\\0\\0", L"V[Same]=m:one\\0two\\0\\0", L"V[Empty]=m:\\0",
      L"V[Cut]=m:a\\0\\0", L"V[Hex]=d:20000000", L"V[Text]=s:x y"}},
    {{}, L"", L"HKCR { NoRemove 'V' { val T = sz '1' } }", kRegister, DISP_E_EXCEPTION, {L"V"}},
    // Doubled quotes, white space, braces and "=" inside quotes; quoted punctuation.
    {{}, L"", L"'HKCR' '{' 'it''s {a} = key' '=' 's' 'x''y' '{' val '' = s 'default' '}' '}'",
     kRegister, S_OK, {L"it's {a} = key", L"it's {a} = key[]=s:default"}},
    // A backslash in a key name fails the script, and the clean-up pass removes what it wrote.
    {{}, L"", L"HKCR { NoRemove Parent { 'Before' = s 'b' { 'Inner' } 'a\\b' } }", kRegister,
     DISP_E_EXCEPTION, {L"Parent"}},
    // A token holds at most kMaxTokenLength characters.
    {{}, L"", L"HKCR { NoRemove 'T' { val Over = s '" + kLongest + L"t' } }", kRegister,
     DISP_E_EXCEPTION, {L"T"}},
};

TEST(Registrar, ScriptCases) {
    for (const ScriptCase& c : kScriptCases) {
        TestKey key(L"Script");
        CRegObject registrar;
        registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get());
        for (const std::wstring& made : c.made) ASSERT_TRUE(key.Has(made, true)) << made;
        ASSERT_EQ(S_OK, c.setUp.empty() ? S_OK : registrar.RunScript(c.setUp.c_str(), true));
        EXPECT_EQ(c.result, registrar.RunScript(c.script.c_str(), c.registering))
            << c.script.substr(0, 100);
        EXPECT_EQ(c.tree, key.Tree()) << c.script.substr(0, 100);
    }
}

}  // namespace
