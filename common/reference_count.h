#pragma once

#include <windows.h>

#include <atomic>

namespace common {

// The reference count of a COM object made here and handed to the system: it starts with its
// maker's reference, may be counted from any thread, and deletes the object when the last goes.
class ReferenceCount {
public:
    ULONG add() noexcept { return ++count_; }
    template <typename Object>
    ULONG release(Object* object) noexcept {
        const ULONG left = --count_;
        if (left == 0) {
            delete object;
        }
        return left;
    }

private:
    std::atomic<ULONG> count_{1};
};

}  // namespace common
