// The shell's allocator for the tests: it knows the blocks still out; freeing a stranger fails.
#pragma once

#include <objbase.h>

#include <gtest/gtest.h>

#include <set>

class CountingAllocator : public IMalloc {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(void*) Alloc(SIZE_T bytes) override {
        void* block = CoTaskMemAlloc(bytes);
        live.insert(block);
        return block;
    }
    STDMETHODIMP_(void*) Realloc(void*, SIZE_T) override { return nullptr; }
    STDMETHODIMP_(void) Free(void* block) override {
        EXPECT_EQ(1u, live.erase(block)) << "freed a block it was not given";
        CoTaskMemFree(block);
    }
    STDMETHODIMP_(SIZE_T) GetSize(void*) override { return 0; }
    STDMETHODIMP_(int) DidAlloc(void*) override { return 0; }
    STDMETHODIMP_(void) HeapMinimize() override {}

    std::set<void*> live;
};

inline CountingAllocator g_allocator;

inline HRESULT WINAPI GiveCountingAllocator(IMalloc** allocator) {
    *allocator = &g_allocator;
    return S_OK;
}

// An item allocation (g_allocateItem) made by the counting allocator.
inline LPVOID WINAPI AllocateCounted(SIZE_T bytes) { return g_allocator.Alloc(bytes); }
