#pragma once

#include <objbase.h>

#include <utility>

namespace common {

// Holds one COM reference. Not copyable: a second reference is taken explicitly with query().
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) {
            old->Release();
        }
    }

    // For out-parameters: releases what is held, then hands out the address to fill.
    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Another interface of the same object, as a new owned reference.
    template <typename U>
    HRESULT query(ComPtr<U>& out) const noexcept {
        return ptr_->QueryInterface(__uuidof(U), out.put_void());
    }

private:
    T* ptr_ = nullptr;
};

}  // namespace common
