#include "install/cancellation.h"

#include "common/cancellation.h"

namespace install {

void throw_if_cancelled(const std::atomic<bool>* cancel) {
    common::throw_if_cancelled(cancel, common::kInstallCancelled);
}

}  // namespace install
