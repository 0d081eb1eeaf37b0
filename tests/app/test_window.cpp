#include "tests/app/test_window.h"

#include <chrono>
#include <thread>

#include "app/window_proc.h"

namespace test {
namespace {

// The window thread of the program is a single-threaded COM apartment; so is the tests' main thread.
void register_once(HINSTANCE instance) {
    static const bool registered = [instance] {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        installer::register_window_class(instance);
        return true;
    }();
    (void)registered;
}

}  // namespace

TestWindow::TestWindow(HINSTANCE instance) {
    register_once(::GetModuleHandleW(nullptr));
    window_ = std::make_unique<installer::Window>(instance);
    hwnd_ = installer::create_main_window(*window_, {1.0f, 0, 0, 880, 570});
}

TestWindow::~TestWindow() {
    if (alive()) {
        ::DestroyWindow(hwnd_);
    }
    // The quit message that WM_DESTROY posts belongs to the real message loop; drop it.
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

bool TestWindow::tick_until_task_taken() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (window_->task_pending()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        window_->tick();
    }
    return true;
}

}  // namespace test
