// A live folder, made as the class factory makes it, and items to hand it.
#pragma once

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "discovery/ServiceItemId.h"
#include "folder/CShellFolder.h"

class Item {
public:
    explicit Item(const std::wstring& name, uint32_t ipv4 = 0xC0000201, uint16_t port = 80,
                  const std::wstring& path = L"/") {
        ServiceAddress address{};
        address.family = 2;
        address.ipv4Address = ipv4;
        address.port = port;
        EXPECT_EQ(S_OK, CreateServiceItemId(name.c_str(), &address, path.c_str(), &m_item));
    }
    ~Item() { CoTaskMemFree(m_item); }
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;
    PCUITEMID_CHILD get() const { return m_item; }

private:
    LPITEMIDLIST m_item = nullptr;
};

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_locksBefore = Module().GetLockCount();
        ASSERT_EQ(S_OK, CreateAndQuery<CShellFolder>(nullptr, IID_IShellFolder2,
                                                     reinterpret_cast<void**>(&m_folder)));
    }
    void TearDown() override {
        if (m_folder) {
            EXPECT_EQ(0u, m_folder->Release());
        }
        EXPECT_EQ(m_locksBefore, Module().GetLockCount());
        CoUninitialize();
    }

    LONG m_locksBefore = 0;
    IShellFolder2* m_folder = nullptr;
};
