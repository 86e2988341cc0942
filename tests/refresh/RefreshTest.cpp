// The folder refreshed as Explorer refreshes it, on a small LAN of avahi hosts
// (tests/network/testnet --hosts, started by run-network-tests): the DLL loaded once, the
// folder made through its class factory, EnumObjects called again and again.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// Asks the test network to withdraw a service (see tests/network/testnet); true once it has.
bool Withdraw(int sample) {
    const char* control = std::getenv("TESTNET_CONTROL");
    if (!control) return false;
    const std::string dir = std::string("Z:") + control + "/";
    std::remove((dir + "withdrawn").c_str());
    std::ofstream(dir + "withdraw.new") << "Sample Service " << sample;
    if (std::rename((dir + "withdraw.new").c_str(), (dir + "withdraw").c_str()) != 0) return false;
    for (int waited = 0; waited < 200; ++waited, Sleep(50)) {
        std::string said;
        if (std::ifstream(dir + "withdrawn") >> said) return said == "ok";
    }
    return false;
}

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

    // One refresh: every sample but the withdrawn ones, and every service of the DNS zone
    // (or, with `unicastMayMiss`, those of them that came in time), once each, with the
    // address of its host, its port and its path.
    void ExpectSamples(const std::set<int>& withdrawn, const std::string& when,
                       bool unicastMayMiss = false) {
        using Item = std::tuple<uint32_t, uint16_t, std::wstring>;
        std::map<std::wstring, Item> items, expected;
        for (int i = 1; i <= services; ++i) {
            // 192.0.2.(10+h) on a LAN, else the one responder 192.0.2.1
            const uint32_t host = hosts ? 0xC0000200u + 10 + (i - 1) % hosts + 1 : 0xC0000201u;
            const std::wstring n = std::to_wstring(i);
            if (!withdrawn.count(i))
                expected[L"Sample Service " + n] = Item(host, 8000 + i, L"/sample/" + n);
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
    const int hosts = EnvInt("TESTNET_HOSTS");
    HMODULE dll = nullptr;
    ComPtr<IShellFolder> folder;
};

// Ten back-to-back refreshes each list every service; then services on different hosts go
// one after another, each gone at the next refresh and after.
TEST_F(RefreshTest, EachRefreshListsEveryServiceButTheWithdrawnOnes) {
    ASSERT_GT(hosts, 1) << "runs on a test network of several hosts";
    ASSERT_GE(services, 9);
    for (int round = 1; round <= 10; ++round)
        ExpectSamples({}, "refresh " + std::to_string(round) + " of 10");
    std::set<int> withdrawn;
    for (int sample : {2, 9, 4}) {
        ASSERT_TRUE(Withdraw(sample)) << "the test network did not withdraw " << sample;
        withdrawn.insert(sample);
        Sleep(1100);  // a goodbye removes the record one second after it came
        const std::string when = "after withdrawing Sample Service " + std::to_string(sample);
        ExpectSamples(withdrawn, when);
        ExpectSamples(withdrawn, when + ", again");
    }
}

// The services of the DNS domain the machine is configured with, beside the link's, one
// item for a service seen both ways; and with a server that never answers, the link's all
// the same. How many of 500 the first window lists depends on the machine's load (the
// benchmark measures it); what came after a window is asked again in the next, so that
// from the third the cache holds them all.
TEST_F(RefreshTest, ListsTheConfiguredDomainsServicesBesideTheLinksOnceEach) {
    for (int round = 1; round <= 4; ++round)
        ExpectSamples({}, "enumeration " + std::to_string(round), round <= 2);
}

}  // namespace
