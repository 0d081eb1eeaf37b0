#include "app/install_task.h"

#include "app/window.h"
#include "common/marked_threads.h"
#include "common/support_log.h"
#include "install/install_worker.h"

namespace installer {

std::string InstallTaskBody::operator()() const {
    // The install's CPU is told apart from what the window's frames cost (common/marked_threads.h).
    const common::MarkedThread mark(L"korvane-install");
    // The run's block begins here, off the window thread: trimming the log reads and rewrites it.
    common::begin_support_log_run();
    common::support_log("folder", installDir, " (", installDirOrigin, ")");
    return install::install_launcher(installDir, desktopDir, programsDir, &window->stepProgress,
                                     &window->cancelRequested, &window->bytesDone, &window->bytesTotal, &window->state);
}

}  // namespace installer
