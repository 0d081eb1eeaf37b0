// The pacing rule by its inputs: what changed, how long since the last frame, what a frame costs
// across the threads that draw it, whether an install runs. How a frame is priced, and which CPU
// counts as the install's.
#include <windows.h>
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "app/frame_pacer.h"
#include "common/marked_threads.h"

namespace {

using installer::frame_due;
using installer::FrameChange;

constexpr int64_t kMillisecond = 1'000'000;
constexpr int64_t kSecond = 1'000'000'000;

// A change of one kind only.
FrameChange only(bool FrameChange::*kind) {
    FrameChange change;
    change.*kind = true;
    return change;
}
FrameChange scene() {
    return only(&FrameChange::scene);
}
FrameChange animation() {
    return only(&FrameChange::animation);
}
FrameChange progress() {
    return only(&FrameChange::progress);
}
FrameChange glow() {
    return only(&FrameChange::glow);
}

TEST(FramePacing, TheRuleByItsInputs) {
    struct Case {
        const char* name;
        FrameChange change;
        int64_t since;
        int64_t cost;
        bool installing;
        bool due;
    };
    const Case cases[] = {
        {"a new screen, step or text never waits", scene(), 0, 10 * kSecond, true, true},
        {"nor without an install", scene(), 0, 10 * kSecond, false, true},
        {"nothing changed", {}, 60 * kSecond, kMillisecond, true, false},
        {"progress: 15 % of a core not yet spent", progress(), 400 * kMillisecond, 100 * kMillisecond, true, false},
        {"progress: 15 % of a core spent", progress(), 340 * kMillisecond, 50 * kMillisecond, true, true},
        {"progress: just short", progress(), 330 * kMillisecond, 50 * kMillisecond, true, false},
        {"progress: the half-second floor", progress(), 500 * kMillisecond, 10 * kSecond, true, true},
        {"progress: just short of the floor", progress(), 499 * kMillisecond, 10 * kSecond, true, false},
        {"a fade or hover in an install: paced", animation(), 600 * kMillisecond, 100 * kMillisecond, true, false},
        {"...and due once paid for", animation(), 670 * kMillisecond, 100 * kMillisecond, true, true},
        {"...with no floor", animation(), 5 * kSecond, 10 * kSecond, true, false},
        {"intro and hover without an install: at once", animation(), 0, 10 * kSecond, false, true},
        {"the idle glow: one frame in a hundred frame costs", glow(), 9'900 * kMillisecond, 100 * kMillisecond, false,
         false},
        {"...and due after a hundred", glow(), 10 * kSecond, 100 * kMillisecond, false, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(frame_due(c.change, c.since, c.cost, c.installing), c.due) << c.name;
    }
}

// How long moving progress waits for its next frame, as frames cost more across threads.
int64_t progress_wait(int64_t cost) {
    int64_t since = 0;
    while (!frame_due(progress(), since, cost, true)) {
        since += kMillisecond;
    }
    return since;
}

TEST(FramePacing, FramesThatCostMoreAreDrawnLessOftenButProgressAtLeastEveryHalfSecond) {
    int64_t previous = 0;
    for (const int64_t cost : {kMillisecond / 10, kMillisecond, 10 * kMillisecond, 30 * kMillisecond, 60 * kMillisecond,
                               100 * kMillisecond, kSecond}) {
        const int64_t wait = progress_wait(cost);
        EXPECT_GE(wait, previous) << cost;
        EXPECT_LE(wait, installer::kProgressFloor) << cost;
        // Within the floor, drawing keeps to the install's share of one core.
        if (wait < installer::kProgressFloor) {
            EXPECT_LE(static_cast<double>(cost) / static_cast<double>(wait), installer::kInstallShare + 0.01) << cost;
        }
        previous = wait;
    }
    EXPECT_EQ(progress_wait(kSecond), installer::kProgressFloor);
}

TEST(FramePacing, FadesAreAnimatedOnlyWhereFramesAreCheap) {
    EXPECT_TRUE(installer::fades_animated(0));  // nothing measured yet
    EXPECT_TRUE(installer::fades_animated(kMillisecond));
    EXPECT_FALSE(installer::fades_animated(100 * kMillisecond));  // Wine's software renderer
}

TEST(FramePacer, AFrameIsPricedByTheCpuOutsideTheInstallUntilTheRendererHasHadItsTime) {
    installer::FramePacer pacer;
    // The first frame builds the device objects: not priced.
    pacer.frame_began(0, 0, false);
    pacer.frame_ended(400 * kMillisecond);
    EXPECT_FALSE(pacer.price_due(kSecond));
    EXPECT_EQ(pacer.first_frame_end(), 400 * kMillisecond);
    // A frame whose window thread is done at 20 ms while the renderer's threads go on: its price
    // stays open until they have had their time.
    pacer.frame_began(kSecond, 3 * kSecond, true);
    pacer.frame_ended(kSecond + 20 * kMillisecond);
    EXPECT_FALSE(pacer.price_due(kSecond + 100 * kMillisecond));
    ASSERT_TRUE(pacer.price_due(kSecond + 200 * kMillisecond));
    pacer.close_price(3 * kSecond + 90 * kMillisecond);
    EXPECT_EQ(pacer.frame_cost(), 90 * kMillisecond);
    EXPECT_FALSE(pacer.price_due(2 * kSecond));
    EXPECT_EQ(pacer.last_frame_end(), kSecond + 20 * kMillisecond);
    // The next frame begins before the time is up: it closes the price of the one before. A dearer
    // frame counts at once (half-way), a cheaper one slowly.
    pacer.frame_began(3 * kSecond, 4 * kSecond, true);
    pacer.frame_began(3 * kSecond + 50 * kMillisecond, 4 * kSecond + 190 * kMillisecond, true);
    EXPECT_EQ(pacer.frame_cost(), 140 * kMillisecond);
    pacer.close_price(4 * kSecond + 190 * kMillisecond + 60 * kMillisecond);
    EXPECT_EQ(pacer.frame_cost(), (140 * 7 + 60) * kMillisecond / 8);
}

// Keeps the calling thread busy for `cpu` nanoseconds of its own CPU time.
void burn(int64_t cpu) {
    FILETIME created, exited, kernel, user;
    const auto own = [&] {
        ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
        const auto value = [](const FILETIME& t) {
            return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
        };
        return value(kernel) + value(user);
    };
    const int64_t start = own();
    volatile uint64_t sink = 0;
    while (own() - start < cpu) {
        for (int i = 0; i < 100000; ++i) {
            sink = sink + static_cast<uint64_t>(i);
        }
    }
}

// The CPU outside the marked threads over a thread that burns 300 ms of CPU, marked or not, and
// ends before the count is read (its CPU stays in the process's total).
int64_t outside_over_a_busy_thread(bool marked) {
    const int64_t before = common::cpu_outside_marked_threads();
    std::thread([marked] {
        std::optional<common::MarkedThread> mark;
        if (marked) {
            mark.emplace(L"korvane-install");
        }
        burn(300 * kMillisecond);
    }).join();
    return common::cpu_outside_marked_threads() - before;
}

TEST(MarkedThreads, TheInstallsThreadsAreNotCountedAsDrawingEvenAfterTheyEnd) {
    EXPECT_LT(outside_over_a_busy_thread(true), 100 * kMillisecond);
    EXPECT_GE(outside_over_a_busy_thread(false), 250 * kMillisecond);
}

}  // namespace
