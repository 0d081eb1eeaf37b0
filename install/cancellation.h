#pragma once

#include <atomic>

namespace install {

// Throws "Установка отменена" once the user has asked to cancel. Long operations of the install
// task poll this between steps.
void throw_if_cancelled(const std::atomic<bool>* cancel);

}  // namespace install
