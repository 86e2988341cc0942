#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "discovery/ServiceItemId.h"
#include "module/StartupCalls.h"
#include "tests/support/CountingAllocator.h"
#include "view/CEnumIdList.h"

namespace {

LONG LockCount() { return Module().GetLockCount(); }

// Fails the chosen item allocation, as an allocator with no memory left would.
int g_allocationsBeforeFailure = 0;
LPVOID WINAPI AllocateUntilCountedOut(SIZE_T size) {
    return --g_allocationsBeforeFailure == 0 ? nullptr : CoTaskMemAlloc(size);
}

// The names of what Next hands out, each copy freed at once.
std::wstring Drain(IEnumIDList* items, ULONG chunk) {
    std::wstring names;
    LPITEMIDLIST slots[8] = {};
    ULONG fetched = 0;
    while (SUCCEEDED(items->Next(chunk, slots, &fetched)) && fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) {
            names += GetServiceName(slots[i]);
            CoTaskMemFree(slots[i]);
        }
    }
    return names;
}

// An enumerator of A, B, C, A from the shell's allocator, freed with the last reader.
class Enumerator : public ::testing::Test {
protected:
    void SetUp() override {
        m_before = LockCount();
        g_allocator.live.clear();
        g_getShellAllocator = GiveCountingAllocator;
        ASSERT_EQ(S_OK, CreateObject(&m_enumerator));
        g_getShellAllocator = SHGetMalloc;
        m_enumerator->AddRef();
        g_allocateItem = AllocateCounted;
        for (const wchar_t* name : {L"A", L"B", L"C", L"A"}) {
            const ServiceAddress address{};
            LPITEMIDLIST item = nullptr;
            ASSERT_EQ(S_OK, CreateServiceItemId(name, &address, L"/", &item));
            m_enumerator->m_items.push_back(item);
        }
        g_allocateItem = CoTaskMemAlloc;
        m_enumerator->AttachItems();
    }
    void TearDown() override {
        g_allocateItem = CoTaskMemAlloc;
        if (m_enumerator) m_enumerator->Release();
        EXPECT_EQ(m_before, LockCount());
        EXPECT_TRUE(g_allocator.live.empty());
    }

    LONG m_before = 0;
    CComObject<CEnumIdList>* m_enumerator = nullptr;
};

TEST_F(Enumerator, NextAndSkipHandOutCopiesInArrivalOrder) {
    LPITEMIDLIST slots[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(E_POINTER, m_enumerator->Next(2, slots, nullptr)) << "how many came is unknown";
    ASSERT_EQ(S_OK, m_enumerator->Next(1, slots, nullptr));
    EXPECT_NE(m_enumerator->m_items[0], slots[0]);  // a copy, not the enumerator's own
    CoTaskMemFree(slots[0]);
    EXPECT_EQ(L"BCA", Drain(m_enumerator, 2));
    EXPECT_EQ(S_FALSE, m_enumerator->Next(1, slots, &fetched));
    EXPECT_EQ(0u, fetched);

    // From the start: skip so many, then read what is left; past the end says so.
    for (ULONG skip : {0u, 4u, 5u}) {
        EXPECT_EQ(S_OK, m_enumerator->Reset());
        EXPECT_EQ(skip > 4 ? S_FALSE : S_OK, m_enumerator->Skip(skip));
        EXPECT_EQ(std::wstring(L"ABCA").substr(skip < 4 ? skip : 4), Drain(m_enumerator, 3));
        EXPECT_EQ(S_FALSE, m_enumerator->Skip(1));
    }
}

// A clone starts where its source is and moves on its own; clones keep the items alive.
TEST_F(Enumerator, ClonesMoveApartAndKeepTheItemsAlive) {
    EXPECT_EQ(S_OK, m_enumerator->Skip(2));
    IEnumIDList* clone = nullptr;
    ASSERT_EQ(S_OK, m_enumerator->Clone(&clone));
    EXPECT_EQ(L"CA", Drain(m_enumerator, 1));
    IEnumIDList* grandchild = nullptr;
    ASSERT_EQ(S_OK, clone->Clone(&grandchild));

    m_enumerator->Release();
    m_enumerator = nullptr;
    EXPECT_EQ(4u, g_allocator.live.size());
    EXPECT_EQ(L"CA", Drain(clone, 1));
    EXPECT_EQ(0u, clone->Release());
    EXPECT_EQ(L"CA", Drain(grandchild, 3));
    EXPECT_EQ(0u, grandchild->Release());
}

TEST_F(Enumerator, FailedCopyLosesNoItem) {
    LPITEMIDLIST slots[4] = {};
    ULONG fetched = 99;
    g_allocationsBeforeFailure = 2;
    g_allocateItem = AllocateUntilCountedOut;
    EXPECT_EQ(E_OUTOFMEMORY, m_enumerator->Next(3, slots, &fetched));
    g_allocateItem = CoTaskMemAlloc;
    EXPECT_EQ(0u, fetched);
    for (LPITEMIDLIST slot : slots) EXPECT_EQ(nullptr, slot);
    // A retry gets every item, from the first.
    EXPECT_EQ(L"ABCA", Drain(m_enumerator, 4));
}

}  // namespace
