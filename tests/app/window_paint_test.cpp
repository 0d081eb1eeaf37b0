// A frame really drawn: what it records for the pacing of later frames. In a program of its own:
// under Wine, once one window of a process has presented a frame, releasing the Direct2D factory of
// a later window that made a render target can spin forever inside wined3d's teardown. The
// installer has one window per process; only a test program that makes many meets it.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "app/window.h"
#include "tests/app/test_window.h"

namespace {

using enum common::InstallState;

constexpr int64_t kSecond = 1'000'000'000;

// One window for both: a second one in this program could meet the teardown spin said above.
TEST(WindowPaint, APaintRecordsWhatItShowedAndTheFirstFrameWarmsTheRootStore) {
    test::TestWindow window;
    ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
    window->tick_at(window->startTime + 2 * kSecond);
    // The certificate store is loaded once the player sees the window, not while it is being made.
    EXPECT_FALSE(window->rootStoreWarmup.valid());
    ::SendMessageW(window->hwnd, WM_PAINT, 0, 0);
    ASSERT_TRUE(window->rootStoreWarmup.valid());
    EXPECT_EQ(window->rootStoreWarmup.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    // The first frame built the device objects: its cost says nothing about later frames.
    EXPECT_EQ(window->pacer.frame_cost(), 0);
    window->paint();
    EXPECT_TRUE(window->paintedFrame.scene == window->frame_key().scene);
    // A frame is priced by the process's CPU up to the next frame (or until the renderer's threads
    // have had their time): measured, once the device objects existed.
    window->paint();
    EXPECT_GT(window->pacer.frame_cost(), 0);
    window->state = Failed;
    EXPECT_FALSE(window->paintedFrame.scene == window->frame_key().scene);
}

}  // namespace
