#include "app/install_task.h"

#include "common/unique_handle.h"
#include "install/launch.h"

namespace installer {

void start_installed_launcher(const std::filesystem::path& executable) {
    // The installer does not wait for the launcher: the handle only has to be closed.
    const common::UniqueKernelHandle process = install::launch_process(executable, L"", false);
}

}  // namespace installer
