#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>
#include <intshcut.h>
#include <ntquery.h>
#include <shlguid.h>

#include <vector>

#include "discovery/ServiceUrl.h"
#include "module/ComPtr.h"
#include "module/TaskMemPtr.h"
#include "tests/folder/FolderFixture.h"

namespace {

constexpr HRESULT kBefore = 0x0000FFFF;
constexpr HRESULT kAfter = 0x00000001;
constexpr HRESULT kSame = 0x00000000;

std::wstring DisplayName(IShellFolder* folder, PCUITEMID_CHILD item, SHGDNF flags) {
    STRRET name{};
    EXPECT_EQ(S_OK, folder->GetDisplayNameOf(item, flags, &name));
    EXPECT_EQ(static_cast<UINT>(STRRET_WSTR), name.uType);
    TaskMemPtr<WCHAR> text(name.pOleStr);
    return text.Get();
}

TEST_F(FolderTest, EveryNameFlagGivesTheInstanceName) {
    const std::wstring longest(127, L'n');
    for (const std::wstring& name : {std::wstring(L"Living room printer"), std::wstring(),
                                     longest, std::wstring(L"caf\u00e9 \U0001F600")}) {
        Item item(name);
        const SHGDNF allFlags[] = {SHGDN_NORMAL, SHGDN_INFOLDER, SHGDN_FOREDITING,
                                   SHGDN_FORADDRESSBAR, SHGDN_FORPARSING,
                                   SHGDN_INFOLDER | SHGDN_FORPARSING};
        for (SHGDNF flags : allFlags)
            EXPECT_EQ(name, DisplayName(m_folder, item.get(), flags));
    }
    STRRET untouched{};
    untouched.uType = 77;
    Item item(L"x");
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDisplayNameOf(nullptr, SHGDN_NORMAL, &untouched));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDisplayNameOf(item.get(), SHGDN_NORMAL, nullptr));
    EXPECT_EQ(77u, untouched.uType);
}

TEST_F(FolderTest, OrderIsExactCodeUnitOrder) {
    struct Case {
        const wchar_t* first;
        const wchar_t* second;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"Printer", L"printer", kBefore},  // 'P' 0x50 below 'p' 0x70
        {L"Zebra", L"aardvark", kBefore},
        {L"Printer", L"Printer 2nd floor", kBefore},
        {L"Printer", L"Printer2", kBefore},
        {L"a\u8000", L"az", kAfter},  // a unit at or above 0x8000 is large, not negative
        {L"", L"a", kBefore},
        {L"same", L"same", kSame},
        {L"10", L"9", kBefore},  // no natural ordering of digits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        Item first(c.first), second(c.second);
        for (LPARAM sort : {LPARAM(0), LPARAM(1), LPARAM(SHCIDS_ALLFIELDS),
                            LPARAM(SHCIDS_CANONICALONLY | 1)}) {
            EXPECT_EQ(c.expected, m_folder->CompareIDs(sort, first.get(), second.get()));
            const HRESULT swapped = c.expected == kSame ? kSame : (c.expected == kAfter ? kBefore : kAfter);
            EXPECT_EQ(swapped, m_folder->CompareIDs(sort, second.get(), first.get()));
        }
    }
    // Only names take part: other addresses, ports and paths still compare equal.
    Item here(L"Web", 0xC0000201, 80, L"/a"), there(L"Web", 0xC6336401, 8080, L"/b");
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, here.get(), there.get()));
    EXPECT_EQ(kSame, m_folder->CompareIDs(0, here.get(), here.get()));
}

TEST_F(FolderTest, ItemsHaveNoAttributesAndKeepTheirNames) {
    Item item(L"Printer");
    PCUITEMID_CHILD items[] = {item.get()};
    SFGAOF attributes = ~SFGAOF(0);
    EXPECT_EQ(S_OK, m_folder->GetAttributesOf(1, items, &attributes));
    EXPECT_EQ(0u, attributes);
    attributes = SFGAO_FOLDER | SFGAO_CANRENAME;
    EXPECT_EQ(S_OK, m_folder->GetAttributesOf(0, nullptr, &attributes));
    EXPECT_EQ(0u, attributes);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetAttributesOf(1, items, nullptr));

    PITEMID_CHILD renamed = reinterpret_cast<PITEMID_CHILD>(0x1234);
    EXPECT_EQ(E_FAIL, m_folder->SetNameOf(nullptr, item.get(), L"New name", SHGDN_NORMAL, &renamed));
    EXPECT_EQ(reinterpret_cast<PITEMID_CHILD>(0x1234), renamed);
}

TEST_F(FolderTest, TheOneNameColumn) {
    ULONG sort = 9, display = 9;
    EXPECT_EQ(S_OK, m_folder->GetDefaultColumn(0xDEADBEEF, &sort, &display));
    EXPECT_EQ(0u, sort);
    EXPECT_EQ(0u, display);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumn(0, nullptr, &display));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumn(0, &sort, nullptr));

    SHCOLSTATEF state = 0;
    EXPECT_EQ(S_OK, m_folder->GetDefaultColumnState(0, &state));
    EXPECT_EQ(0x11u, state);
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumnState(1, &state));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDefaultColumnState(0, nullptr));

    Item item(L"Camera"), unnamed(L"");
    for (PCUITEMID_CHILD which : {PCUITEMID_CHILD(nullptr), item.get(), unnamed.get()}) {
        SHELLDETAILS details{};
        ASSERT_EQ(S_OK, m_folder->GetDetailsOf(which, 0, &details));
        TaskMemPtr<WCHAR> text(details.str.pOleStr);
        EXPECT_EQ(LVCFMT_LEFT, details.fmt);
        EXPECT_EQ(60, details.cxChar);
        EXPECT_EQ(static_cast<UINT>(STRRET_WSTR), details.str.uType);
        EXPECT_STREQ(which ? GetServiceName(which) : L"Name", text.Get());
    }
    SHELLDETAILS untouched{};
    untouched.cxChar = 5;
    for (UINT column : {1u, 0xFFFFFFFFu}) {
        EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(nullptr, column, &untouched));
        EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(item.get(), column, &untouched));
        EXPECT_EQ(E_INVALIDARG, m_folder->MapColumnToSCID(column, nullptr));
    }
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsOf(item.get(), 0, nullptr));
    EXPECT_EQ(5, untouched.cxChar);

    // The column's key gives the same name as the column itself.
    SHCOLUMNID id{};
    ASSERT_EQ(S_OK, m_folder->MapColumnToSCID(0, &id));
    EXPECT_TRUE(IsEqualGUID(FMTID_Storage, id.fmtid));
    EXPECT_EQ(static_cast<DWORD>(PID_STG_NAME), id.pid);
    VARIANT value;
    VariantInit(&value);
    ASSERT_EQ(S_OK, m_folder->GetDetailsEx(item.get(), &id, &value));
    ASSERT_EQ(VT_BSTR, value.vt);
    EXPECT_STREQ(L"Camera", value.bstrVal);
    VariantClear(&value);

    SHCOLUMNID size{FMTID_Storage, 4};
    SHCOLUMNID otherSet{FMTID_SummaryInformation, PID_STG_NAME};
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &size, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &otherSet, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(nullptr, &id, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), nullptr, &value));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetDetailsEx(item.get(), &id, nullptr));
    EXPECT_EQ(VT_EMPTY, value.vt);
}

std::wstring ShortcutUrl(IUnknown* object) {
    ComPtr<IUniformResourceLocatorW> shortcut;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_IUniformResourceLocatorW, shortcut.PutVoid()));
    if (!shortcut) return L"";
    TaskMemPtr<WCHAR> url;
    EXPECT_EQ(S_OK, shortcut->GetURL(url.Put()));
    return url.Get() ? url.Get() : L"";
}

TEST_F(FolderTest, OpeningAnItemHandsOutAShortcutToItsUrl) {
    Item item(L"Printer", 0xC0000201, 631, L"printers/a b");
    PCUITEMID_CHILD items[] = {item.get(), item.get()};

    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(S_OK, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUniformResourceLocatorW,
                                            nullptr, reinterpret_cast<void**>(&first)));
    ASSERT_EQ(S_OK, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr,
                                            reinterpret_cast<void**>(&second)));
    EXPECT_NE(first, second);  // a new shortcut each time
    std::wstring expected;
    ASSERT_EQ(S_OK, BuildServiceUrl(AsServiceItem(item.get()), expected));
    EXPECT_EQ(L"http://192.0.2.1:631/printers/a%20b", expected);
    EXPECT_EQ(expected, ShortcutUrl(first));
    EXPECT_EQ(expected, ShortcutUrl(second));
    // The caller held the only reference.
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(0u, second->Release());

    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    EXPECT_EQ(E_FAIL, m_folder->GetUIObjectOf(nullptr, 2, items, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 0, items, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 1, nullptr, IID_IUnknown, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr, nullptr));
    EXPECT_EQ(untouched, out);
    EXPECT_EQ(E_NOINTERFACE, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IShellFolder, nullptr,
                                                     &out));
}

INT WSAAPI NoAddressText(LPSOCKADDR, DWORD, LPWSAPROTOCOL_INFOW, LPWSTR, LPDWORD) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
}

TEST_F(FolderTest, AddressThatCannotBeWrittenGivesNoShortcut) {
    Item item(L"Printer");
    PCUITEMID_CHILD items[] = {item.get()};
    void* const untouched = reinterpret_cast<void*>(0x1234);
    void* out = untouched;
    g_addressToString = NoAddressText;
    EXPECT_EQ(E_FAIL, m_folder->GetUIObjectOf(nullptr, 1, items, IID_IUnknown, nullptr, &out));
    g_addressToString = WSAAddressToStringW;
    EXPECT_EQ(untouched, out);
}

}  // namespace
