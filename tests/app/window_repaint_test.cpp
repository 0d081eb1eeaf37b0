// Which ticks ask for a frame: at once for what the player acts on or reads (screen, texts, flags,
// the mouse, the intro and hover animations), paced by what frames cost for a step's heading fade,
// progress on its way and the card's idle glow, and never while the window cannot be seen.
#include <gtest/gtest.h>

#include <functional>

#include "app/window.h"
#include "tests/app/test_window.h"

namespace {

using enum common::InstallState;

constexpr int64_t kMillisecond = 1'000'000;
constexpr int64_t kSecond = 1'000'000'000;
// What a frame costs under Wine's software renderer, and on a GPU.
constexpr int64_t kSlowFrame = 100 * kMillisecond;
constexpr int64_t kFastFrame = 1 * kMillisecond;

void paint_at(installer::Window& window, int64_t now, int64_t cost) {
    window.paintedFrame = window.frame_key();
    window.pacer = installer::FramePacer();
    window.pacer.frame_painted(now - 60 * kSecond, cost, true);
    window.pacer.frame_painted(now, cost, true);
}

class WindowRepaint : public ::testing::Test {
protected:
    WindowRepaint() {
        ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
        forget_requests();
        // Past the intro, with nothing moving.
        step(kSecond);
        painted(kSlowFrame);
    }

    // As if the frame the window asked for had just been painted, at the given cost, long after the
    // window's first frame.
    void painted(int64_t cost) {
        paint_at(*window, now, cost);
        forget_requests();
    }
    void forget_requests() { ::ValidateRect(window->hwnd, nullptr); }

    // One timer tick `delta` nanoseconds after the last; true when it asked for a frame.
    bool step(int64_t delta) {
        now += delta;
        window->tick_at(now);
        RECT update{};
        const bool asked = ::GetUpdateRect(window->hwnd, &update, FALSE) != FALSE;
        forget_requests();
        return asked;
    }
    // How many of `ticks` 16 ms ticks asked for a frame, each asked-for frame painted at `cost`.
    int frames_over(int ticks, int64_t cost) {
        int frames = 0;
        for (int i = 0; i < ticks; ++i) {
            if (step(16 * kMillisecond)) {
                ++frames;
                painted(cost);
            }
        }
        return frames;
    }

    test::TestWindow window;
    int64_t now = window->lastTick;
};

TEST_F(WindowRepaint, AStillStartScreenCostsAFrameEveryHundredFrameCosts) {
    // Slow frames: the glow may take one frame in a hundred frame costs, so none for 9.9 s...
    EXPECT_EQ(frames_over(618, kSlowFrame), 0);
    // ...then one once ten seconds have passed since the last.
    EXPECT_EQ(frames_over(20, kSlowFrame), 1);
    // Cheap frames: the glow moves smoothly, yet a frame comes only when a colour level changes.
    painted(kFastFrame);
    const int frames = frames_over(250, kFastFrame);  // 4 s, a half period of the glow
    EXPECT_GE(frames, 8);
    EXPECT_LE(frames, 30);
}

void point_at(installer::Window& window, float x, float y) {
    window.mouseX = x;
    window.mouseY = y;
}

TEST_F(WindowRepaint, WhatThePlayerActsOnOrReadsIsShownAtOnce) {
    struct Case {
        const char* name;
        std::function<void(installer::Window&)> change;
    };
    const Case cases[] = {
        {"mouse over the close glyph", [](installer::Window& w) { point_at(w, 840, 30); }},
        {"mouse over the change button", [](installer::Window& w) { point_at(w, 760, 330); }},
        {"mouse over the primary button", [](installer::Window& w) { point_at(w, 500, 470); }},
        {"install folder", [](installer::Window& w) { w.installDir = L"D:\\Games\\Korvane Launcher"; }},
        {"install started", [](installer::Window& w) { w.state = Preparing; }},
        {"cancel requested", [](installer::Window& w) { w.cancelRequested = true; }},
        {"next step", [](installer::Window& w) { w.state = Verifying; }},
        {"failure text",
         [](installer::Window& w) {
             w.errorText = L"Нет сети";
             w.state = Failed;
         }},
        {"mouse over the error screen's change button", [](installer::Window& w) { point_at(w, 400, 420); }},
        {"version",
         [](installer::Window& w) {
             w.versionText = L"1.4.2";
             w.state = Done;
         }},
    };
    for (const Case& c : cases) {
        c.change(*window);
        EXPECT_TRUE(step(16 * kMillisecond)) << c.name;
        // Any animation the change started runs to its end; then a screen without progress is
        // still again.
        frames_over(60, kSlowFrame);
        const int32_t s = window->state;
        if (s == Idle || s == Failed || s == Done) {
            EXPECT_EQ(frames_over(5, kSlowFrame), 0) << c.name;
        }
        window->mouseX = window->mouseY = -1;
        frames_over(60, kSlowFrame);
    }
}

TEST_F(WindowRepaint, ProgressWithinAStepIsPacedByWhatFramesCost) {
    struct Case {
        int64_t cost;
        int least;
        int most;
    };
    // Over 2.08 s of a download whose bytes move at every tick: cheap frames follow nearly every
    // tick; dearer ones are spaced so that drawing keeps to 15 % of a core (20 ms: every 0.13 s;
    // 50 ms: every 0.33 s); from 75 ms on the half-second floor holds, however dear they are.
    const Case cases[] = {{kFastFrame, 100, 130},
                          {20 * kMillisecond, 14, 16},
                          {50 * kMillisecond, 6, 7},
                          {kSlowFrame, 4, 4},
                          {kSecond, 4, 4}};
    for (const Case& c : cases) {
        window->state = Downloading;
        window->bytesTotal = 16 * 1024 * 1024;
        window->bytesDone = 0;
        window->stepProgress = 0;
        step(16 * kMillisecond);
        painted(c.cost);
        frames_over(30, c.cost);
        painted(c.cost);
        int frames = 0;
        for (int i = 0; i < 130; ++i) {
            window->bytesDone += 64 * 1024;
            window->stepProgress = static_cast<float>(window->bytesDone.load()) / (16 * 1024 * 1024);
            if (step(16 * kMillisecond)) {
                ++frames;
                painted(c.cost);
            }
        }
        EXPECT_GE(frames, c.least) << c.cost;
        EXPECT_LE(frames, c.most) << c.cost;
        // A new step is not held back by the pace.
        window->state = Verifying;
        EXPECT_TRUE(step(16 * kMillisecond)) << c.cost;
        painted(c.cost);
    }
    // The Preparing sweep moves all the time: cheap frames follow it at the tick rate.
    window->state = Preparing;
    EXPECT_TRUE(step(16 * kMillisecond));
    painted(kFastFrame);
    EXPECT_GE(frames_over(60, kFastFrame), 50);
}

TEST_F(WindowRepaint, AStepsHeadingFadesWhereFramesAreCheapAndIsACutWhereTheyAreDear) {
    struct Case {
        int64_t cost;
        int least;
        int most;
    };
    // Cheap frames: the new step at once, then a frame for nearly every tick of the 0.25 s fade.
    // Dear frames: the new step at once with its heading at full strength, and nothing more.
    const Case cases[] = {{kFastFrame, 12, 20}, {kSlowFrame, 0, 0}};
    int32_t next = Verifying;
    for (const Case& c : cases) {
        painted(c.cost);
        window->state = next++;
        // Progress at rest: only the heading could still move.
        window->shownProgress = next - 1 == Verifying ? 0.82f : 0.87f;
        window->stepProgress = 0;
        EXPECT_TRUE(step(16 * kMillisecond)) << c.cost;
        EXPECT_EQ(window->stateFade == 1.0f, c.cost == kSlowFrame) << c.cost;
        painted(c.cost);
        const int frames = frames_over(60, c.cost);
        EXPECT_GE(frames, c.least) << c.cost;
        EXPECT_LE(frames, c.most) << c.cost;
    }
}

TEST_F(WindowRepaint, AMinimisedOrHiddenWindowAsksForNothing) {
    for (const int hide : {SW_MINIMIZE, SW_HIDE}) {
        ::ShowWindow(window->hwnd, hide);
        forget_requests();
        window->state = Failed;
        window->errorText = L"Нет сети";
        EXPECT_FALSE(step(16 * kMillisecond)) << hide;
        EXPECT_EQ(frames_over(700, kFastFrame), 0) << hide;  // not even the glow
        window->state = Idle;
        ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
        forget_requests();
        EXPECT_TRUE(step(16 * kMillisecond)) << hide;  // back in view: the new screen at once
        painted(kSlowFrame);
    }
}

TEST(WindowRepaintIntro, TheIntroAnimatesEveryTickThenStops) {
    test::TestWindow window;
    ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
    int64_t now = window->startTime;
    int frames = 0;
    int quietTicks = 0;
    for (int i = 0; i < 80; ++i) {  // 1.28 s
        now += 16 * kMillisecond;
        window->tick_at(now);
        RECT update{};
        if (::GetUpdateRect(window->hwnd, &update, FALSE)) {
            ++frames;
            paint_at(*window, now, kSlowFrame);
            ::ValidateRect(window->hwnd, nullptr);
        } else if (window->clock > 0.6f) {
            ++quietTicks;
        }
    }
    // Nearly every tick of the 0.6 s intro (37 ticks): its last ticks move the logo by less than a
    // colour level.
    EXPECT_GE(frames, 28);
    EXPECT_LE(frames, 38);
    EXPECT_GE(quietTicks, 40);
}

// Under Wine the first frames can be painted before the X server shows the window, and are lost:
// every tick paints for a while after the first frame, whatever moves.
TEST(WindowRepaintIntro, EveryTickPaintsWhileTheFirstFramesSettle) {
    test::TestWindow window;
    ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
    int64_t now = window->startTime + 5 * kSecond;  // the intro long over
    window->tick_at(now);
    window->paintedFrame = window->frame_key();
    window->pacer.frame_painted(now, kSlowFrame, true);  // the first frame
    ::ValidateRect(window->hwnd, nullptr);
    int settling = 0;
    int after = 0;
    for (int i = 0; i < 150; ++i) {  // 2.4 s
        now += 16 * kMillisecond;
        window->tick_at(now);
        RECT update{};
        const bool asked = ::GetUpdateRect(window->hwnd, &update, FALSE) != FALSE;
        ::ValidateRect(window->hwnd, nullptr);
        (i < 93 ? settling : after) += asked ? 1 : 0;  // 1.5 s: 93 ticks
    }
    EXPECT_EQ(settling, 93);
    EXPECT_EQ(after, 0);
}

// Starting an install shows that the window is on the screen: the settling ends, and the install's
// steps and progress are paced as at any other time.
TEST(WindowRepaintIntro, AnInstallStartedWhileTheFirstFramesSettleEndsTheSettling) {
    test::TestWindow window;
    ::ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
    int64_t now = window->startTime + 5 * kSecond;
    window->tick_at(now);
    window->paintedFrame = window->frame_key();
    window->pacer.frame_painted(now, kSlowFrame, true);  // the first frame
    ::ValidateRect(window->hwnd, nullptr);
    window->state = Preparing;  // the player clicked at once
    int frames = 0;
    for (int i = 0; i < 93; ++i) {  // the 1.5 s of settling
        now += 16 * kMillisecond;
        window->tick_at(now);
        RECT update{};
        if (::GetUpdateRect(window->hwnd, &update, FALSE)) {
            ++frames;
            window->paintedFrame = window->frame_key();
            window->pacer.frame_painted(now, kSlowFrame, true);
            ::ValidateRect(window->hwnd, nullptr);
        }
    }
    // The new step, its heading faded in, and the Preparing sweep at a tenth of the window thread.
    EXPECT_GE(frames, 2);
    EXPECT_LE(frames, 5);
}

}  // namespace
