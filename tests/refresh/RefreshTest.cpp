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

const CLSID kFolderClass = {
    0x7AB84743, 0xC00F, 0x461C, {0xA6, 0x71, 0xC7, 0xD1, 0x61, 0x46, 0x3E, 0x51}};

int EnvInt(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::atoi(value) : 0;
}

std::wstring SampleName(int i) { return L"Sample Service " + std::to_wstring(i); }

// Address, port, path.
using Item = std::tuple<uint32_t, uint16_t, std::wstring>;

class RefreshTest : public testing::Test {
protected:
    void SetUp() override {
        services = EnvInt("TESTNET_SERVICES");
        hosts = EnvInt("TESTNET_HOSTS");
        ASSERT_GT(hosts, 1) << "runs on a test network of several hosts";
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        dll = LoadLibraryW(L"ZeroconfNeighborhood.dll");
        ASSERT_NE(dll, nullptr);
        using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(kFolderClass, IID_IClassFactory, factory.PutVoid()), S_OK);
        ComPtr<IPersistFolder> persist;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersistFolder, persist.PutVoid()), S_OK);
        ASSERT_EQ(persist->Initialize(nullptr), S_OK);
        ASSERT_EQ(persist->QueryInterface(IID_IShellFolder, folder.PutVoid()), S_OK);
    }

    void TearDown() override {
        folder.Reset();
        if (dll) FreeLibrary(dll);
        CoUninitialize();
    }

    // One refresh: every item, by name; a name listed twice is a failure.
    std::map<std::wstring, Item> Enumerate() {
        std::map<std::wstring, Item> items;
        ComPtr<IEnumIDList> enumerator;
        EXPECT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS,
                                      enumerator.Put()), S_OK);
        if (!enumerator) return items;
        LPITEMIDLIST pidl = nullptr;
        while (enumerator->Next(1, &pidl, nullptr) == S_OK) {
            const ServiceItemId* item = AsServiceItem(pidl);
            const Item fields{item->address.ipv4Address, item->address.port, item->path};
            EXPECT_TRUE(items.emplace(item->name, fields).second) << "listed twice";
            CoTaskMemFree(pidl);
        }
        return items;
    }

    // Every sample but the withdrawn ones, each with the address of its host.
    void ExpectSamples(const std::map<std::wstring, Item>& items, const std::set<int>& withdrawn,
                       const std::string& when) {
        for (int i = 1; i <= services; ++i) {
            const auto found = items.find(SampleName(i));
            EXPECT_EQ(withdrawn.count(i) != 0, found == items.end())
                << when << ": Sample Service " << i;
            if (found == items.end()) continue;
            const uint32_t host = 0xC0000200u + 10 + (i - 1) % hosts + 1;  // 192.0.2.(10+h)
            EXPECT_EQ(Item(host, 8000 + i, L"/sample/" + std::to_wstring(i)), found->second)
                << when;
        }
        EXPECT_EQ(items.size(), size_t(services) - withdrawn.size()) << when;
    }

    // Asks the test network to withdraw a service (see tests/network/testnet); true once
    // it has.
    static bool Withdraw(const std::wstring& name) {
        const char* control = std::getenv("TESTNET_CONTROL");
        if (!control) return false;
        const std::string dir = std::string("Z:") + control + "/";
        std::remove((dir + "withdrawn").c_str());
        std::ofstream(dir + "withdraw.new") << std::string(name.begin(), name.end());
        if (std::rename((dir + "withdraw.new").c_str(), (dir + "withdraw").c_str()) != 0)
            return false;
        for (int waited = 0; waited < 200; ++waited, Sleep(50)) {
            std::string said;
            if (std::ifstream(dir + "withdrawn") >> said) return said == "ok";
        }
        return false;
    }

    int services = 0;
    int hosts = 0;
    HMODULE dll = nullptr;
    ComPtr<IShellFolder> folder;
};

TEST_F(RefreshTest, BackToBackEnumerationsEachListEveryService) {
    for (int round = 1; round <= 10; ++round)
        ExpectSamples(Enumerate(), {}, "enumeration " + std::to_string(round) + " of 10");
}

// Services on different hosts go one after another; what went stays gone.
TEST_F(RefreshTest, AWithdrawnServiceIsGoneAtTheNextEnumeration) {
    ASSERT_GE(services, 9);
    ExpectSamples(Enumerate(), {}, "before any withdrawal");
    std::set<int> withdrawn;
    for (int sample : {2, 9, 4}) {
        ASSERT_TRUE(Withdraw(SampleName(sample))) << "the test network did not withdraw " << sample;
        withdrawn.insert(sample);
        Sleep(1100);  // a goodbye removes the record one second after it came
        const std::string when = "after withdrawing Sample Service " + std::to_string(sample);
        ExpectSamples(Enumerate(), withdrawn, when);
        ExpectSamples(Enumerate(), withdrawn, when + ", again");
    }
}

}  // namespace
