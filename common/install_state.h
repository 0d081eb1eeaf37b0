#pragma once

#include <cstdint>

// What the install is doing, shared by the window (which shows it) and the install task (which
// advances it). The task writes only Preparing..Shortcuts; the window thread writes the others.
namespace common {

enum InstallState : int32_t {
    Idle = 0,
    Preparing = 1,
    Downloading = 2,
    Verifying = 3,
    Installing = 4,
    Shortcuts = 5,
    Done = 6,
    Failed = 7,
};

}  // namespace common
