#include "app/install_task.h"

#include "app/window.h"
#include "install/install_worker.h"

namespace installer {

std::string InstallTaskBody::operator()() const {
    return install::install_launcher(installDir, desktopDir, programsDir, &window->stepProgress,
                                     &window->cancelRequested, &window->bytesDone, &window->bytesTotal, &window->state);
}

}  // namespace installer
