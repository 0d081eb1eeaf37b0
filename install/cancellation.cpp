#include "install/cancellation.h"

#include <stdexcept>

namespace {

constexpr char kCancelled[] = "Установка отменена";

}  // namespace

void throw_if_cancelled(const std::atomic<bool>* cancel) {
    if (cancel->load()) {
        throw std::runtime_error(kCancelled);
    }
}
