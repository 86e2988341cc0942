// Owns one block of the COM task allocator and frees it when it goes.
#pragma once

#include <objbase.h>

template <class T>
class TaskMemPtr {
public:
    TaskMemPtr() = default;
    explicit TaskMemPtr(T* pointer) : m_pointer(pointer) {}
    ~TaskMemPtr() { CoTaskMemFree(m_pointer); }
    TaskMemPtr(const TaskMemPtr&) = delete;
    TaskMemPtr& operator=(const TaskMemPtr&) = delete;

    T* Get() const { return m_pointer; }
    T** Put() {
        CoTaskMemFree(m_pointer);
        m_pointer = nullptr;
        return &m_pointer;
    }
    T* Detach() {
        T* pointer = m_pointer;
        m_pointer = nullptr;
        return pointer;
    }

private:
    T* m_pointer = nullptr;
};
