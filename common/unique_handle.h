#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace common {

// Move-only owner of one plain handle (Win32 HANDLE, BCrypt, FILE*...). Traits supply the handle
// type, its invalid value and its close function:
//   struct Traits { using type = ...; static type invalid() noexcept; static void close(type) noexcept; };
// Each kind is one line, an alias of UniqueAny below.
// Closing keeps GetLastError intact so an owner leaving scope on an error path does not hide the
// code that the caller is about to report.
template <typename Traits>
class UniqueHandle {
public:
    using handle_type = typename Traits::type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(handle_type handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    handle_type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::invalid(); }

    handle_type release() noexcept { return std::exchange(handle_, Traits::invalid()); }

    void reset(handle_type handle = Traits::invalid()) noexcept {
        const handle_type old = std::exchange(handle_, handle);
        if (old != Traits::invalid()) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

    // For out-parameters: closes what is held, then hands out the address to fill.
    handle_type* put() noexcept {
        reset();
        return &handle_;
    }

private:
    handle_type handle_ = Traits::invalid();
};

// The traits of a kind whose close function takes the handle alone, and whose invalid value is a
// constant (null, or -1 for INVALID_HANDLE_VALUE).
template <typename Handle, auto Close, std::intptr_t Invalid = 0>
struct ClosedBy {
    using type = Handle;
    static type invalid() noexcept {
        if constexpr (std::is_pointer_v<type>) {
            return reinterpret_cast<type>(Invalid);
        } else {
            return static_cast<type>(Invalid);
        }
    }
    static void close(type handle) noexcept { Close(handle); }
};

template <typename Handle, auto Close, std::intptr_t Invalid = 0>
using UniqueAny = UniqueHandle<ClosedBy<Handle, Close, Invalid>>;

using UniqueKernelHandle = UniqueAny<HANDLE, ::CloseHandle>;
// CreateFileW reports failure as INVALID_HANDLE_VALUE, not null; so does FindFirstFileExW.
using UniqueFileHandle = UniqueAny<HANDLE, ::CloseHandle, -1>;
using UniqueFindHandle = UniqueAny<HANDLE, ::FindClose, -1>;

}  // namespace common
