// The folder refreshed as Explorer does, beside a DNS server (tests/network/testnet --unicast):
// the DLL loaded once, the folder made by its class factory, EnumObjects called again and again.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "discovery/ServiceItemId.h"
#include "module/ComPtr.h"

namespace {

int EnvInt(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

const CLSID kFolderClass = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

class RefreshTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        dll = LoadLibraryW(L"ZeroconfNeighborhood.dll");
        ASSERT_NE(dll, nullptr);
        using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(kFolderClass, IID_IClassFactory, factory.PutVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellFolder, folder.PutVoid()), S_OK);
    }

    void TearDown() override {
        folder.Reset();
        if (dll) FreeLibrary(dll);
        CoUninitialize();
    }

    // Every sample of the link and every service of the zone (with `unicastMayMiss`, those that
    // came in time), once each, with its host's address, its port and its path.
    void ExpectSamples(const std::string& when, bool unicastMayMiss) {
        using Item = std::tuple<uint32_t, uint16_t, std::wstring>;
        std::map<std::wstring, Item> items, expected;
        for (int i = 1; i <= services; ++i) {
            const std::wstring n = std::to_wstring(i);
            expected[L"Sample Service " + n] = Item(0xC0000201u, 8000 + i, L"/sample/" + n);
        }
        std::set<std::wstring> unicast;
        for (int i = 1; i <= EnvInt("TESTNET_UNICAST"); ++i) {
            const std::wstring n = std::to_wstring(i);
            expected[L"Unicast Service " + n] = Item(0xC0000201u, 7000 + i, L"/unicast/" + n);
            unicast.insert(L"Unicast Service " + n);
        }
        ComPtr<IEnumIDList> enumerator;
        ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS,
                                      enumerator.Put()), S_OK);
        LPITEMIDLIST pidl = nullptr;
        while (enumerator->Next(1, &pidl, nullptr) == S_OK) {
            const ServiceItemId* item = AsServiceItem(pidl);
            const Item fields{item->address.ipv4Address, item->address.port, item->path};
            EXPECT_TRUE(items.emplace(item->name, fields).second) << when << ": listed twice";
            CoTaskMemFree(pidl);
        }
        for (const std::wstring& name : unicast) {
            if (unicastMayMiss && !items.count(name)) expected.erase(name);
        }
        EXPECT_EQ(items, expected) << when;
    }

    const int services = EnvInt("TESTNET_SERVICES");
    HMODULE dll = nullptr;
    ComPtr<IShellFolder> folder;
};

// The configured domain's services beside the link's, one item for one seen both ways; with
// a silent server, the link's all the same. The first windows list what came in time (the
// load decides; the benchmark measures it); from the third the cache holds them all.
TEST_F(RefreshTest, ListsTheConfiguredDomainsServicesBesideTheLinksOnceEach) {
    for (int round = 1; round <= 4; ++round)
        ExpectSamples("enumeration " + std::to_string(round), round <= 2);
}

}  // namespace
