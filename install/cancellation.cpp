#include "install/cancellation.h"

#include "common/cancellation.h"

namespace install {

namespace {

constexpr char kCancelled[] = "Установка отменена";

}  // namespace

void throw_if_cancelled(const std::atomic<bool>* cancel) {
    common::throw_if_cancelled(cancel, kCancelled);
}

}  // namespace install
