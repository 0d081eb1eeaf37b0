#include <gtest/gtest.h>

#include "app/window.h"
#include "tests/app/test_window.h"

namespace {

using enum common::InstallState;

constexpr int64_t kSecond = 1'000'000'000;

// The tick's animation with an explicit clock: each step is `delta` seconds after the previous one.
class WindowTick : public ::testing::Test {
protected:
    void step(double delta) {
        now += static_cast<int64_t>(delta * kSecond);
        window->tick_at(now);
    }

    test::TestWindow window;
    int64_t now = window->lastTick;
};

TEST_F(WindowTick, ClockAndCappedFrameDelta) {
    step(0.05);
    EXPECT_NEAR(window->frameDelta, 0.05f, 1e-6);
    step(5.0);
    EXPECT_FLOAT_EQ(window->frameDelta, 0.1f);
    EXPECT_NEAR(window->clock, static_cast<float>((now - window->startTime) / 1e9), 1e-5);
    EXPECT_EQ(window->lastTick, now);
}

TEST_F(WindowTick, ProgressEasesTowardEachStatesTarget) {
    struct Case {
        common::InstallState state;
        float step;
        float target;
    };
    const Case cases[] = {
        {Idle, 0.5f, 0.0f},        {Preparing, 0.5f, 0.0f},  {Downloading, 0.5f, 0.43f}, {Verifying, 0.5f, 0.82f},
        {Installing, 0.5f, 0.92f}, {Shortcuts, 0.5f, 0.98f}, {Done, 0.5f, 1.0f},         {Failed, 0.5f, 0.0f},
    };
    for (const Case& c : cases) {
        window->state = c.state;
        window->stepProgress = c.step;
        window->shownProgress = 0.2f;
        step(0.05);  // half of the remaining distance per 0.05 s
        EXPECT_NEAR(window->shownProgress, 0.2f + (c.target - 0.2f) * 0.5f, 1e-5) << c.state;
        step(1.0);  // a long pause is capped at 0.1 s, which closes the whole gap
        EXPECT_NEAR(window->shownProgress, c.target, 1e-5) << c.state;
    }
}

TEST_F(WindowTick, DownloadingAtHalfApproachesFromBelow) {
    window->state = Downloading;
    window->stepProgress = 0.5f;
    for (int i = 0; i < 30; ++i) {
        step(0.016);
        EXPECT_LT(window->shownProgress, 0.43f);
    }
    EXPECT_GT(window->shownProgress, 0.42f);
}

TEST_F(WindowTick, HoverFollowsThePrimaryButtonRegion) {
    window->mouseX = 500;
    window->mouseY = 470;
    step(0.05);
    EXPECT_NEAR(window->hover, 0.6f, 1e-5);
    step(0.1);
    EXPECT_NEAR(window->hover, 1.0f, 1e-5);
    window->mouseY = 440;  // just above the button
    step(0.05);
    EXPECT_NEAR(window->hover, 0.4f, 1e-5);
}

// The result screen's launch button is narrower than the field's button: over "Закрыть" or the
// gap beside it nothing lights the launch button.
TEST_F(WindowTick, OnTheDoneScreenHoverFollowsTheLaunchButtonOnly) {
    window->state = Done;
    const struct {
        float x;
        float hover;
    } points[] = {{500, 1.0f}, {663, 1.0f}, {670, 0.0f}, {700, 0.0f}, {820, 0.0f}, {500, 1.0f}};
    for (const auto& point : points) {
        window->mouseX = point.x;
        window->mouseY = 470;
        step(0.1);
        EXPECT_NEAR(window->hover, point.hover, 1e-5) << point.x;
    }
}

TEST_F(WindowTick, AStateChangeRestartsTheFade) {
    step(0.05);
    EXPECT_EQ(window->stateFade, 1.0f);
    window->state = Failed;
    step(0.05);
    EXPECT_EQ(window->shownState, Failed);
    EXPECT_NEAR(window->stateFade, 0.2f, 1e-5);
    step(0.1);
    EXPECT_NEAR(window->stateFade, 0.6f, 1e-5);
    step(0.1);
    EXPECT_EQ(window->stateFade, 1.0f);
}

}  // namespace
