#pragma once

#include <atomic>
#include <stdexcept>

namespace common {

// What every step of the install task says when it stops at the player's cancel.
inline constexpr char kInstallCancelled[] = "Установка отменена";

// Throws std::runtime_error(message) once the flag (may be null: nothing to cancel) is set. Long
// operations poll this between steps, each naming what was cancelled.
inline void throw_if_cancelled(const std::atomic<bool>* cancel, const char* message) {
    if (cancel != nullptr && cancel->load()) {
        throw std::runtime_error(message);
    }
}

}  // namespace common
