#pragma once

#include <objbase.h>

namespace common {

// This thread's single-threaded COM apartment for as long as the object lives. A failed entry is
// reported by succeeded() and never left; a successful one is left on every way out of the scope.
class ComApartment {
public:
    ComApartment() noexcept : entered_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (entered_) {
            ::CoUninitialize();
        }
    }

    bool succeeded() const noexcept { return entered_; }

private:
    bool entered_;
};

}  // namespace common
