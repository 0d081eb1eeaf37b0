#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/window_placement.h"
#include "tests/app/dialog_closer.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"

namespace {

TEST(WindowPlacement, SizedFromTheWorkAreaAndTheSystemDpi) {
    struct Case {
        RECT workArea;
        UINT dpi;
        installer::WindowPlacement expected;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1040}, 96, {1.0f, 520, 235, 880, 570}},
        {{0, 0, 1366, 728}, 144, {696.0f / 570.0f, 146, 16, 1074, 696}},
        // A work area that does not start at the origin (a taskbar on the left or top).
        {{100, 40, 2020, 1080}, 96, {1.0f, 620, 275, 880, 570}},
        // A small screen shrinks the window below its logical size.
        {{0, 0, 800, 600}, 96, {768.0f / 880.0f, 16, 51, 768, 497}},
    };
    for (const Case& c : cases) {
        const auto placed = installer::place_window(c.workArea, c.dpi);
        EXPECT_FLOAT_EQ(placed.scale, c.expected.scale);
        EXPECT_EQ(placed.x, c.expected.x);
        EXPECT_EQ(placed.y, c.expected.y);
        EXPECT_EQ(placed.width, c.expected.width);
        EXPECT_EQ(placed.height, c.expected.height);
    }
}

TEST(WindowPlacement, DpiChangeTakesTheNewScaleAndTheSuggestedRectangle) {
    test::TestWindow window;
    RECT suggested{10, 20, 10 + 1100, 20 + 712};
    ::SendMessageW(window->hwnd, WM_DPICHANGED, MAKEWPARAM(120, 120), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window->scale, 1.25f);
    RECT frame{};
    ::GetWindowRect(window->hwnd, &frame);
    EXPECT_EQ(frame.left, 10);
    EXPECT_EQ(frame.top, 20);
    EXPECT_EQ(frame.right - frame.left, 1100);
    EXPECT_EQ(frame.bottom - frame.top, 712);
}

}  // namespace

namespace {

// A paint that fails (here: the pictures are missing) is reported in a message box, which the
// closer dismisses, and then closes the window unless an install is running.
TEST(WindowErrors, APaintFailureIsReportedThenClosesTheWindow) {
    test::TestWindow window;
    window->instance = ::GetModuleHandleW(L"kernel32.dll");
    {
        test::DialogCloser closer;
        ::SendMessageW(window->hwnd, WM_PAINT, 0, 0);
        EXPECT_TRUE(closer.pressed());
    }
    EXPECT_FALSE(window.alive());
}

TEST(WindowErrors, APaintFailureDuringAnInstallOnlyRequestsCancelAndClose) {
    fake_task::reset({"", "Установка отменена"});
    test::TestWindow window;
    window->click(500, 470);
    ASSERT_TRUE(fake_task::wait_started());
    window->instance = ::GetModuleHandleW(L"kernel32.dll");
    {
        test::DialogCloser closer;
        ::SendMessageW(window->hwnd, WM_PAINT, 0, 0);
        EXPECT_TRUE(closer.pressed());
    }
    EXPECT_TRUE(window.alive());
    EXPECT_TRUE(window->cancelRequested.load());
    EXPECT_TRUE(window->closeRequested);
    fake_task::release();
    ASSERT_TRUE(window.tick_until_task_taken());
    EXPECT_FALSE(window.alive());
}

}  // namespace

namespace {

// Whatever a handler throws stays inside the window procedure, also when it is not a
// std::exception (here: a task that broke its contract and threw an int, met by the tick).
TEST(WindowErrors, AnExceptionOfAnyTypeStaysInsideTheWindowProcedure) {
    fake_task::reset({"", ""});
    fake_task::end_with_foreign_exception();
    test::TestWindow window;
    window->click(500, 470);
    ASSERT_TRUE(fake_task::wait_started());
    fake_task::release();

    bool escaped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (window->task_pending() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        try {
            ::SendMessageW(window->hwnd, WM_TIMER, 1, 0);
        } catch (...) {
            escaped = true;
            break;
        }
    }
    EXPECT_FALSE(escaped);
    EXPECT_FALSE(window->task_pending());
    // As after any error in a handler with no install running: the window closes.
    EXPECT_FALSE(window.alive());
}

}  // namespace
