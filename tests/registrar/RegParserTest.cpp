// The script grammar and its registry effects, run against a key of the test's own in the
// private Wine prefix's registry (scripts name HKCR, which is redirected there).
#include "module/RegParser.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "tests/registrar/TestKey.h"

namespace {

const wchar_t kClassKey[] = L"CLSID\\{7AB84743-C00F-461C-A671-C7D161463E51}";

// The registration script of the DLL, as wide text.
const wchar_t kFolderScript[] =
    L"HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n"
    L"\t\tForceRemove '{7AB84743-C00F-461C-A671-C7D161463E51}' = s 'My Zeroconf Neighborhood'\r\n"
    L"\t\t{\r\n\t\t\t'DefaultIcon' = s '%MODULE%'\r\n\t\t\t'InprocServer32' = s '%MODULE%'\r\n"
    L"\t\t\t{\r\n\t\t\t\tval 'ThreadingModel' = s 'Apartment'\r\n\t\t\t}\r\n"
    L"\t\t\t'ShellFolder'\r\n\t\t\t{\r\n\t\t\t\tval 'Attributes' = d '&H20000000'\r\n"
    L"\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n";

class Script {
public:
    explicit Script(const TestKey& key) { m_registrar.RedirectRoot(HKEY_CLASSES_ROOT, key.Get()); }
    CRegObject& Registrar() { return m_registrar; }
    HRESULT Register(const std::wstring& text) { return m_registrar.RunScript(text.c_str(), true); }
    HRESULT Unregister(const std::wstring& text) {
        return m_registrar.RunScript(text.c_str(), false);
    }

private:
    CRegObject m_registrar;
};

std::wstring Expand(CRegObject& registrar, const std::wstring& text, HRESULT* result) {
    RegParser parser(registrar);
    TaskMemPtr<wchar_t> expanded;
    *result = parser.ExpandReplacements(text.c_str(), expanded);
    return expanded.Get() ? std::wstring(expanded.Get()) : L"<none>";
}

std::vector<BYTE> WideBytes(const wchar_t* text, size_t units) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + units * sizeof(wchar_t));
}

}  // namespace

TEST(Registrar, PlainObjectFace) {
    CRegObject registrar;
    void* out = &registrar;
    EXPECT_EQ(E_NOTIMPL, registrar.QueryInterface(IID_IUnknown, &out));
    EXPECT_EQ(1u, registrar.AddRef());
    EXPECT_EQ(0u, registrar.Release());
    EXPECT_EQ(E_INVALIDARG, registrar.AddReplacement(nullptr, L"text"));
    EXPECT_EQ(E_INVALIDARG, registrar.AddReplacement(L"name", nullptr));
    EXPECT_EQ(S_OK, registrar.AddReplacement(L"name", L"first"));
    EXPECT_EQ(S_OK, registrar.AddReplacement(L"NAME", L"second"));
    EXPECT_EQ(2u, registrar.Replacements().Count());
    EXPECT_STREQ(L"first", registrar.Replacements().Find(L"Name", 4));
    EXPECT_EQ(S_OK, registrar.ClearReplacements());
    EXPECT_EQ(0u, registrar.Replacements().Count());
    EXPECT_EQ(nullptr, registrar.Replacements().Find(L"name", 4));
}

TEST(Registrar, ExpandsReplacements) {
    CRegObject registrar;
    ASSERT_EQ(S_OK, registrar.AddReplacement(L"Module", L"C:\\it''s\\x.dll"));
    ASSERT_EQ(S_OK, registrar.AddReplacement(L"APPID", L""));
    ASSERT_EQ(S_OK, registrar.AddReplacement(L"Module_Raw", L"raw %MODULE% stays"));
    HRESULT hr = E_FAIL;
    EXPECT_EQ(L"'C:\\it''s\\x.dll' 100% []", Expand(registrar, L"'%MODULE%' 100%% [%APPID%]", &hr));
    EXPECT_EQ(S_OK, hr);
    // A replacement text is not scanned again.
    EXPECT_EQ(L"raw %MODULE% stays", Expand(registrar, L"%module_raw%", &hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"", Expand(registrar, L"", &hr));
    EXPECT_EQ(S_OK, hr);

    Expand(registrar, L"%Unknown%", &hr);
    EXPECT_EQ(DISP_E_EXCEPTION, hr);
    Expand(registrar, L"'%MODULE", &hr);
    EXPECT_EQ(DISP_E_EXCEPTION, hr);

    const std::wstring name31(31, L'n');
    const std::wstring name32(32, L'n');
    ASSERT_EQ(S_OK, registrar.AddReplacement(name31.c_str(), L"31"));
    ASSERT_EQ(S_OK, registrar.AddReplacement(name32.c_str(), L"32"));
    EXPECT_EQ(L"31", Expand(registrar, L"%" + name31 + L"%", &hr));
    EXPECT_EQ(S_OK, hr);
    Expand(registrar, L"%" + name32 + L"%", &hr);
    EXPECT_EQ(E_FAIL, hr);

    // Growth well past the first buffer keeps every character.
    const std::wstring longText(5000, L'x');
    ASSERT_EQ(S_OK, registrar.AddReplacement(L"Long", longText.c_str()));
    EXPECT_EQ(L"a" + longText + L"b" + longText, Expand(registrar, L"a%Long%b%Long%", &hr));
    EXPECT_EQ(S_OK, hr);
}

TEST(Registrar, FolderScriptRegistersTwiceAndUnregisters) {
    TestKey key(L"FolderScript");
    Script script(key);
    ASSERT_EQ(S_OK, script.Registrar().AddReplacement(L"Module", L"C:\\Program Files\\it''s\\Z.dll"));

    ASSERT_EQ(S_OK, script.Register(kFolderScript));
    const std::wstring classKey = kClassKey;
    EXPECT_EQ(L"My Zeroconf Neighborhood", key.ReadString(kClassKey, nullptr));
    EXPECT_EQ(L"C:\\Program Files\\it's\\Z.dll", key.ReadString((classKey + L"\\DefaultIcon").c_str(), nullptr));
    EXPECT_EQ(L"C:\\Program Files\\it's\\Z.dll",
              key.ReadString((classKey + L"\\InprocServer32").c_str(), nullptr));
    EXPECT_EQ(L"Apartment", key.ReadString((classKey + L"\\InprocServer32").c_str(), L"ThreadingModel"));
    EXPECT_EQ(0x20000000u, key.ReadNumber((classKey + L"\\ShellFolder").c_str(), L"Attributes"));
    EXPECT_EQ(3u, key.CountSubkeys(kClassKey));

    // A stale subkey and value under the class key vanish when it is written again.
    key.Create((classKey + L"\\Stale\\Deeper").c_str());
    ASSERT_EQ(S_OK, script.Register(kFolderScript));
    EXPECT_FALSE(key.Exists((classKey + L"\\Stale").c_str()));
    EXPECT_EQ(3u, key.CountSubkeys(kClassKey));
    EXPECT_EQ(0x20000000u, key.ReadNumber((classKey + L"\\ShellFolder").c_str(), L"Attributes"));

    key.Create(L"CLSID\\{00000000-0000-0000-0000-000000000001}");
    ASSERT_EQ(S_OK, script.Unregister(kFolderScript));
    EXPECT_FALSE(key.Exists(kClassKey));
    EXPECT_TRUE(key.Exists(L"CLSID"));
    EXPECT_TRUE(key.Exists(L"CLSID\\{00000000-0000-0000-0000-000000000001}"));

    // Unregistering again finds nothing to remove and succeeds.
    EXPECT_EQ(S_OK, script.Unregister(kFolderScript));
    EXPECT_TRUE(key.Exists(L"CLSID"));
}

TEST(Registrar, NoRemoveValAndDelete) {
    TestKey key(L"NoRemove");
    Script script(key);
    const wchar_t* text =
        L"HKCR { NoRemove Keep { val 'Gone' = s 'g' NoRemove val 'Kept' = s 'k' "
        L"'Sub' = s 'sub' { 'Leaf' } NoRemove 'Stays' } }";
    ASSERT_EQ(S_OK, script.Register(text));
    EXPECT_EQ(L"g", key.ReadString(L"Keep", L"Gone"));
    EXPECT_EQ(L"sub", key.ReadString(L"Keep\\Sub", nullptr));
    EXPECT_TRUE(key.Exists(L"Keep\\Sub\\Leaf"));
    EXPECT_TRUE(key.Exists(L"Keep\\Stays"));

    ASSERT_EQ(S_OK, script.Unregister(text));
    EXPECT_TRUE(key.Exists(L"Keep"));
    EXPECT_EQ(L"<absent>", key.ReadString(L"Keep", L"Gone"));
    EXPECT_EQ(L"k", key.ReadString(L"Keep", L"Kept"));
    EXPECT_FALSE(key.Exists(L"Keep\\Sub"));
    EXPECT_TRUE(key.Exists(L"Keep\\Stays"));
    // A value that is already gone is no failure.
    EXPECT_EQ(S_OK, script.Unregister(text));

    // Delete removes a tree and creates nothing; its assignment is read and skipped.
    key.Create(L"Old\\Deep\\Deeper");
    ASSERT_EQ(S_OK, script.Register(L"HKCR { Delete 'Old' = s 'ignored' 'New' }"));
    EXPECT_FALSE(key.Exists(L"Old"));
    EXPECT_TRUE(key.Exists(L"New"));

    // A key that still holds subkeys the script does not name is not removed: its failure.
    key.Create(L"New\\Foreign");
    EXPECT_TRUE(FAILED(script.Unregister(L"HKCR { 'New' }")));
    EXPECT_TRUE(key.Exists(L"New\\Foreign"));
}

TEST(Registrar, ProtectedNamesSurviveForceRemove) {
    TestKey key(L"Protected");
    Script script(key);
    key.Create(L"CLSID\\Other");
    key.Create(L"software\\Other");
    key.Create(L"Plain\\Other");
    ASSERT_EQ(S_OK, script.Register(
        L"HKCR { ForceRemove CLSID { 'Mine' } ForceRemove 'SOFTWARE' Delete TypeLib "
        L"ForceRemove Plain }"));
    EXPECT_TRUE(key.Exists(L"CLSID\\Other"));
    EXPECT_TRUE(key.Exists(L"CLSID\\Mine"));
    EXPECT_TRUE(key.Exists(L"Software\\Other"));
    EXPECT_TRUE(key.Exists(L"Plain"));
    EXPECT_FALSE(key.Exists(L"Plain\\Other"));
}

TEST(Registrar, ValueKinds) {
    TestKey key(L"Values");
    Script script(key);
    ASSERT_EQ(S_OK, script.Register(
        L"HKCR { 'V' { val List = m 'one\\0two\\0' val Same = m 'one\\0two' "
        L"val Empty = m '' val Cut = m 'a\\0\\0b' val Bytes = b '0aFF1z' val NoBytes = b '' "
        L"val Hex = D '&H20000000' val Decimal = d '4294967295' val Text = S 'x y' } }"));
    const wchar_t list[] = L"one\0two\0";
    EXPECT_EQ(WideBytes(list, 9), key.Read(L"V", L"List").bytes);
    EXPECT_EQ(DWORD(REG_MULTI_SZ), key.Read(L"V", L"List").type);
    EXPECT_EQ(WideBytes(list, 9), key.Read(L"V", L"Same").bytes);
    EXPECT_EQ(WideBytes(L"", 1), key.Read(L"V", L"Empty").bytes);
    EXPECT_EQ(WideBytes(L"a\0", 3), key.Read(L"V", L"Cut").bytes);
    EXPECT_EQ(DWORD(REG_BINARY), key.Read(L"V", L"Bytes").type);
    EXPECT_EQ((std::vector<BYTE>{0x0A, 0xFF, 0x10}), key.Read(L"V", L"Bytes").bytes);
    EXPECT_EQ(DWORD(REG_BINARY), key.Read(L"V", L"NoBytes").type);
    EXPECT_TRUE(key.Read(L"V", L"NoBytes").bytes.empty());
    EXPECT_EQ(0x20000000u, key.ReadNumber(L"V", L"Hex"));
    EXPECT_EQ(0xFFFFFFFFu, key.ReadNumber(L"V", L"Decimal"));
    EXPECT_EQ(L"x y", key.ReadString(L"V", L"Text"));

    // An odd digit count fails the entry; the clean-up pass removes what the block wrote.
    EXPECT_EQ(E_FAIL, script.Register(L"HKCR { 'W' { val First = s 'f' val Odd = b 'abc' } }"));
    EXPECT_FALSE(key.Exists(L"W"));
    // A number that does not convert fails with the conversion's code and writes nothing.
    const HRESULT badNumber = script.Register(L"HKCR { NoRemove 'V' { val Bad = d 'twelve' } }");
    EXPECT_TRUE(FAILED(badNumber));
    EXPECT_NE(DISP_E_EXCEPTION, badNumber);
    EXPECT_EQ(DWORD(REG_NONE), key.Read(L"V", L"Bad").type);
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { NoRemove 'V' { val T = x '1' } }"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { NoRemove 'V' { val T = sz '1' } }"));
    EXPECT_EQ(DWORD(REG_NONE), key.Read(L"V", L"T").type);
}

TEST(Registrar, QuotesAndBraces) {
    TestKey key(L"Quotes");
    Script script(key);
    // Doubled quotes, white space, braces and "=" inside quotes; quoted punctuation.
    ASSERT_EQ(S_OK, script.Register(
        L"'HKCR' '{' 'it''s {a} = key' '=' 's' 'x''y' '{' val '' = s 'default' '}' '}'"));
    EXPECT_EQ(L"default", key.ReadString(L"it's {a} = key", nullptr));
    // A brace against other characters is one token: a key named "{x", no block.
    ASSERT_EQ(S_OK, script.Register(L"HKCR { 'K' {x }"));
    EXPECT_TRUE(key.Exists(L"K"));
    EXPECT_TRUE(key.Exists(L"{x"));
    EXPECT_EQ(0u, key.CountSubkeys(L"K"));

    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { 'open"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { 'K' { 'L' }"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { val 'NoEquals' s 'x' }"));
}

TEST(Registrar, BackslashInKeyNameCleansUp) {
    TestKey key(L"Backslash");
    Script script(key);
    const wchar_t* text = L"HKCR { NoRemove Parent { 'Before' = s 'b' { 'Inner' } 'a\\b' } }";
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(text));
    EXPECT_TRUE(key.Exists(L"Parent"));
    EXPECT_FALSE(key.Exists(L"Parent\\Before"));
    EXPECT_FALSE(key.Exists(L"Parent\\a"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { ForceRemove 'x\\y' }"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Unregister(L"HKCR { 'x\\y' }"));
}

TEST(Registrar, TokenAndValueNameLimits) {
    TestKey key(L"Limits");
    Script script(key);
    const std::wstring longest(RegParser::kMaxTokenLength, L't');
    ASSERT_EQ(S_OK, script.Register(L"HKCR { 'T' { val Long = s '" + longest + L"' } }"));
    EXPECT_EQ(longest, key.ReadString(L"T", L"Long"));
    EXPECT_EQ(DISP_E_EXCEPTION,
              script.Register(L"HKCR { NoRemove 'T' { val Over = s '" + longest + L"t' } }"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { " + longest + L"t }"));
    EXPECT_EQ(L"<absent>", key.ReadString(L"T", L"Over"));

    const std::wstring name259(259, L'v');
    ASSERT_EQ(S_OK, script.Register(L"HKCR { NoRemove 'T' { val " + name259 + L" = s 'ok' } }"));
    EXPECT_EQ(L"ok", key.ReadString(L"T", name259.c_str()));
    // One character more is refused whole, and the clean-up pass runs.
    const std::wstring name260(260, L'v');
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(
        L"HKCR { NoRemove 'T' { val First = s 'f' val " + name260 + L" = s 'no' } 'U' }"));
    EXPECT_EQ(L"<absent>", key.ReadString(L"T", L"First"));
    EXPECT_EQ(L"<absent>", key.ReadString(L"T", name260.c_str()));
    EXPECT_FALSE(key.Exists(L"U"));
}

TEST(Registrar, ScriptShapes) {
    TestKey key(L"Shapes");
    Script script(key);
    EXPECT_EQ(S_OK, script.Register(L""));
    EXPECT_EQ(S_OK, script.Unregister(L""));
    EXPECT_EQ(0u, key.CountSubkeys(nullptr));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L" \t\r\n "));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKXX { }"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR 'K'"));
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR"));

    // A second root block runs the same way; white space may follow the last one.
    ASSERT_EQ(S_OK, script.Register(L"HKCR { 'One' }\r\nHKEY_CLASSES_ROOT { 'Two' }\r\n\t "));
    EXPECT_TRUE(key.Exists(L"One"));
    EXPECT_TRUE(key.Exists(L"Two"));
    ASSERT_EQ(S_OK, script.Unregister(L"hkcr { 'One' } HKCR { 'Two' }"));
    EXPECT_FALSE(key.Exists(L"One"));
    EXPECT_FALSE(key.Exists(L"Two"));

    // A failing second block takes back only its own entries.
    EXPECT_EQ(DISP_E_EXCEPTION, script.Register(L"HKCR { 'One' } HKCR { 'Two' 'a\\b' }"));
    EXPECT_TRUE(key.Exists(L"One"));
    EXPECT_FALSE(key.Exists(L"Two"));
}

TEST(Registrar, DeleteKeyTreeRemovesEveryLevel) {
    TestKey key(L"Tree");
    for (int i = 0; i < 5; ++i) key.Create((L"Root\\Branch" + std::to_wstring(i) + L"\\Leaf").c_str());
    EXPECT_EQ(ERROR_SUCCESS, RegParser::DeleteKeyTree(key.Get(), L"Root"));
    EXPECT_FALSE(key.Exists(L"Root"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegParser::DeleteKeyTree(key.Get(), L"Root"));
}

TEST(Registrar, RootAndProtectedTables) {
    EXPECT_EQ(HKEY_CLASSES_ROOT, RegParser::RootKeyFromName(L"hkcr"));
    EXPECT_EQ(HKEY_CURRENT_USER, RegParser::RootKeyFromName(L"HKEY_CURRENT_USER"));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, RegParser::RootKeyFromName(L"HKLM"));
    EXPECT_EQ(HKEY_USERS, RegParser::RootKeyFromName(L"HKU"));
    EXPECT_EQ(HKEY_PERFORMANCE_DATA, RegParser::RootKeyFromName(L"HKPD"));
    EXPECT_EQ(HKEY_DYN_DATA, RegParser::RootKeyFromName(L"HKDD"));
    EXPECT_EQ(HKEY_CURRENT_CONFIG, RegParser::RootKeyFromName(L"HKEY_CURRENT_CONFIG"));
    EXPECT_EQ(nullptr, RegParser::RootKeyFromName(L"HKCR2"));
    for (const wchar_t* name : {L"AppID", L"clsid", L"Component Categories", L"FileType",
                                L"Interface", L"Hardware", L"Mime", L"SAM", L"security",
                                L"SYSTEM", L"Software", L"TypeLib"})
        EXPECT_TRUE(RegParser::IsProtectedKey(name)) << name;
    EXPECT_FALSE(RegParser::IsProtectedKey(L"CLSID2"));
}
