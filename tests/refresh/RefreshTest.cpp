// The folder refreshed as Explorer refreshes it beside a DNS server that publishes services
// (tests/network/testnet --unicast, started by run-network-tests): the DLL loaded once, the
// folder made through its class factory, EnumObjects called again and again.
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

    // One refresh: every sample of the link (avahi's, on 192.0.2.1) and every service of the
    // DNS zone (or, with `unicastMayMiss`, those of them that came in time), once each, with
    // the address of its host, its port and its path.
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

// The services of the DNS domain the machine is configured with, beside the link's, one
// item for a service seen both ways; and with a server that never answers, the link's all
// the same. How many of 500 the first window lists depends on the machine's load (the
// benchmark measures it); what came after a window is asked again in the next, so that
// from the third the cache holds them all.
TEST_F(RefreshTest, ListsTheConfiguredDomainsServicesBesideTheLinksOnceEach) {
    for (int round = 1; round <= 4; ++round)
        ExpectSamples("enumeration " + std::to_string(round), round <= 2);
}

}  // namespace
