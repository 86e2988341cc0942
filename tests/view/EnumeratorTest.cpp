#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

#include "discovery/ServiceItemId.h"
#include "module/StartupCalls.h"
#include "view/CEnumIdList.h"

namespace {

LONG LockCount() { return Module().GetLockCount(); }

// Fails the chosen item allocation, as an allocator with no memory left would.
int g_allocationsBeforeFailure = 0;
LPVOID WINAPI AllocateUntilCountedOut(SIZE_T size) {
    return --g_allocationsBeforeFailure == 0 ? nullptr : CoTaskMemAlloc(size);
}

// The shell's allocator, counting the blocks handed back to it.
class FreeCounter : public IMalloc {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void*) Alloc(SIZE_T bytes) override { return CoTaskMemAlloc(bytes); }
    STDMETHODIMP_(void*) Realloc(void*, SIZE_T) override { return nullptr; }
    STDMETHODIMP_(void) Free(void* block) override {
        ++frees;
        CoTaskMemFree(block);
    }
    STDMETHODIMP_(SIZE_T) GetSize(void*) override { return 0; }
    STDMETHODIMP_(int) DidAlloc(void*) override { return 0; }
    STDMETHODIMP_(void) HeapMinimize() override {}

    int frees = 0;
};
FreeCounter g_freeCounter;

HRESULT WINAPI GiveFreeCounter(IMalloc** allocator) {
    *allocator = &g_freeCounter;
    return S_OK;
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

class Enumerator : public ::testing::Test {
protected:
    void SetUp() override {
        m_before = LockCount();
        g_freeCounter.frees = 0;
        g_getShellAllocator = GiveFreeCounter;
        ASSERT_EQ(S_OK, CreateObject(&m_enumerator));
        g_getShellAllocator = SHGetMalloc;
        m_enumerator->AddRef();
        for (const wchar_t* name : {L"A", L"B", L"C", L"A"}) {
            const ServiceAddress address{};
            LPITEMIDLIST item = nullptr;
            ASSERT_EQ(S_OK, CreateServiceItemId(name, &address, L"/", &item));
            m_enumerator->m_items.push_back(item);
        }
        m_enumerator->AttachItems();
    }
    void TearDown() override {
        if (m_enumerator) m_enumerator->Release();
        EXPECT_EQ(m_before, LockCount());
        EXPECT_EQ(4, g_freeCounter.frees);  // the items go with the last enumerator reading them
    }

    LONG m_before = 0;
    CComObject<CEnumIdList>* m_enumerator = nullptr;
};

TEST_F(Enumerator, NextAndSkipHandOutCopiesInArrivalOrder) {
    LPITEMIDLIST slots[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(S_OK, m_enumerator->Next(0, slots, &fetched));
    EXPECT_EQ(0u, fetched);
    for (ULONG wanted : {0u, 2u}) EXPECT_EQ(E_POINTER, m_enumerator->Next(wanted, slots, nullptr));
    EXPECT_EQ(E_POINTER, m_enumerator->Next(1, nullptr, &fetched));
    ASSERT_EQ(S_OK, m_enumerator->Next(1, slots, nullptr));
    EXPECT_NE(m_enumerator->m_items[0], slots[0]);  // a copy, not the enumerator's own
    CoTaskMemFree(slots[0]);
    EXPECT_EQ(L"BCA", Drain(m_enumerator, 2));
    EXPECT_EQ(S_FALSE, m_enumerator->Next(1, slots, &fetched));
    EXPECT_EQ(0u, fetched);

    // From the start: skip so many, then read what is left; past the end says so.
    for (ULONG skip : {0u, 3u, 4u, 5u}) {
        EXPECT_EQ(S_OK, m_enumerator->Reset());
        EXPECT_EQ(skip > 4 ? S_FALSE : S_OK, m_enumerator->Skip(skip));
        EXPECT_EQ(std::wstring(L"ABCA").substr(skip < 4 ? skip : 4), Drain(m_enumerator, 3));
        EXPECT_EQ(S_FALSE, m_enumerator->Skip(1));
    }
}

TEST_F(Enumerator, ClonesMoveApartAndKeepTheItemsAlive) {
    EXPECT_EQ(S_OK, m_enumerator->Skip(2));
    IEnumIDList* clone = nullptr;
    ASSERT_EQ(S_OK, m_enumerator->Clone(&clone));
    EXPECT_EQ(E_POINTER, m_enumerator->Clone(nullptr));
    EXPECT_EQ(m_before + 2, LockCount());

    EXPECT_EQ(L"C", Drain(m_enumerator, 1).substr(0, 1));
    IEnumIDList* grandchild = nullptr;
    ASSERT_EQ(S_OK, clone->Clone(&grandchild));

    // The enumerator goes; its items stay while a clone reads them.
    m_enumerator->Release();
    m_enumerator = nullptr;
    EXPECT_EQ(L"CA", Drain(clone, 1));
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(L"ABCA", Drain(clone, 4));
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
