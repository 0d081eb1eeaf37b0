#pragma once

#include <windows.h>

#include <memory>

#include "app/window.h"

namespace test {

// A Window of this test program (whose resources hold the real pictures) bound to a hidden
// 880 x 570 installer window. The window is destroyed with the object if the test has not.
class TestWindow {
public:
    explicit TestWindow(HINSTANCE instance = ::GetModuleHandleW(nullptr));
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    ~TestWindow();

    installer::Window& operator*() { return *window_; }
    installer::Window* operator->() { return window_.get(); }
    bool alive() const { return ::IsWindow(hwnd_) != FALSE; }

    // Ticks until the pending task has been taken (bounded); false if it never finished.
    bool tick_until_task_taken();

private:
    std::unique_ptr<installer::Window> window_;
    HWND hwnd_ = nullptr;
};

}  // namespace test
