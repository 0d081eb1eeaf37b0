#pragma once

#include <future>

namespace installer {

// Opens the system's trusted root certificate store once on a helper thread and closes it again.
// The first HTTPS request of a process otherwise loads the roots itself, after the player has
// clicked; loading them while the start screen is up moves that wait out of the install. Nothing
// leaves the machine. A failure is ignored: the request would then load the store as it always did.
std::future<void> warm_root_store();

}  // namespace installer
