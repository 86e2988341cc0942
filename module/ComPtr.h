// Owns one reference to a COM interface and gives it back when it goes.
#pragma once

#include <unknwn.h>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

    // For out-parameters: the old reference is released first.
    T** Put() {
        Reset();
        return &m_pointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    T* Detach() {
        T* pointer = m_pointer;
        m_pointer = nullptr;
        return pointer;
    }

    void Reset() {
        if (m_pointer) {
            T* pointer = m_pointer;
            m_pointer = nullptr;
            pointer->Release();
        }
    }

private:
    T* m_pointer = nullptr;
};
