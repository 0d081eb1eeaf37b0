#include "tests/app/fake_task.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "app/install_task.h"
#include "app/window.h"
#include "install/placement.h"

namespace fake_task {
namespace {

struct Control {
    std::mutex mutex;
    std::condition_variable changed;
    Ending ending;
    bool released = false;
    bool endOnCancel = false;
    bool foreignException = false;
    int started = 0;
    int finished = 0;
    std::filesystem::path installDir;
    std::string launchError;
    std::filesystem::path launched;
};

Control& control() {
    static Control instance;
    return instance;
}

}  // namespace

void reset(Ending ending) {
    std::lock_guard lock(control().mutex);
    control().ending = std::move(ending);
    control().released = false;
    control().endOnCancel = false;
    control().foreignException = false;
    control().started = 0;
    control().finished = 0;
    control().launchError.clear();
    control().launched.clear();
}

void release() {
    std::lock_guard lock(control().mutex);
    control().released = true;
    control().changed.notify_all();
}

void end_with_foreign_exception() {
    std::lock_guard lock(control().mutex);
    control().foreignException = true;
}

void end_on_cancel() {
    std::lock_guard lock(control().mutex);
    control().endOnCancel = true;
}

bool wait_started(std::chrono::milliseconds timeout) {
    std::unique_lock lock(control().mutex);
    return control().changed.wait_for(lock, timeout, [] { return control().started > 0; });
}

int finished() {
    std::lock_guard lock(control().mutex);
    return control().finished;
}

int runs() {
    std::lock_guard lock(control().mutex);
    return control().started;
}

std::filesystem::path last_install_dir() {
    std::lock_guard lock(control().mutex);
    return control().installDir;
}

void set_launch_error(std::string error) {
    std::lock_guard lock(control().mutex);
    control().launchError = std::move(error);
}

std::filesystem::path last_launched() {
    std::lock_guard lock(control().mutex);
    return control().launched;
}

}  // namespace fake_task

namespace installer {

std::string InstallTaskBody::operator()() const {
    using namespace fake_task;
    std::unique_lock lock(control().mutex);
    ++control().started;
    control().installDir = installDir;
    control().changed.notify_all();
    // The cancel flag is an atomic without notification, so it is polled as the worker polls it.
    while (!control().released) {
        if (control().endOnCancel && window->cancelRequested.load()) {
            ++control().finished;
            if (control().ending.restoreIncomplete) {
                throw install::PlacementNotRestored(control().ending.error);
            }
            throw std::runtime_error("Установка отменена");
        }
        control().changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    ++control().finished;
    if (control().foreignException) {
        throw 42;
    }
    if (control().ending.restoreIncomplete) {
        throw install::PlacementNotRestored(control().ending.error);
    }
    if (!control().ending.error.empty()) {
        throw std::runtime_error(control().ending.error);
    }
    return control().ending.version;
}

void start_installed_launcher(const std::filesystem::path& executable) {
    std::lock_guard lock(fake_task::control().mutex);
    fake_task::control().launched = executable;
    if (!fake_task::control().launchError.empty()) {
        throw std::runtime_error(fake_task::control().launchError);
    }
}

}  // namespace installer
