#pragma once

#include <cstdint>

namespace installer {

// What differs between the frame the window would paint now and the last one painted, by how soon
// the player must see it.
struct FrameChange {
    // The screen, its texts and flags, what the pointer is over: shown at once, always.
    bool scene = false;
    // The intro, a button's hover lift and a heading's fade.
    bool animation = false;
    // The progress bar, the byte count and the percent.
    bool progress = false;
    // The card's slow glow.
    bool glow = false;
};

// While the progress screen shows, drawing may take this share of one core, counted over every
// thread that draws (the window's and the renderer's), so that the install keeps the machine.
inline constexpr double kInstallShare = 0.15;
// The idle start screen's glow: one frame in a hundred frame costs.
inline constexpr double kIdleShare = 0.01;
// However dear frames are, the bar, the byte count and the percent move at least this often.
inline constexpr int64_t kProgressFloor = 500'000'000;

// The pacing rule. Whether a frame that would show `change` is due `sinceLastFrame` nanoseconds
// after the last frame ended, when a frame costs `frameCost` nanoseconds of CPU across the threads
// that draw it; `installing` while the progress screen shows. Frames that cost more are drawn less
// often; a new screen, step, text or flag never waits.
bool frame_due(const FrameChange& change, int64_t sinceLastFrame, int64_t frameCost, bool installing);

// Whether a heading's fade (0.25 s) is animated at this frame cost, or cut: the new heading then
// shows at full strength in the very frame that shows the new step. A fade is worth its frames only
// where the install's share affords a frame every quarter of it (a GPU); under a software renderer,
// where a frame costs about a tenth of a second of CPU, fades are cuts.
bool fades_animated(int64_t frameCost);

// Prices frames by the CPU they really cost the machine: the CPU the process spends outside the
// install's own threads (common/marked_threads.h) from the start of a frame until the renderer has
// had time to finish it on its threads, or until the next frame begins.
class FramePacer {
public:
    // A frame begins at `now` with `cpu` nanoseconds spent so far outside the install's threads;
    // a frame that is not `steady` builds the device objects, and its cost, which later frames never
    // pay, is not counted. Closes the price of the frame before.
    void frame_began(int64_t now, int64_t cpu, bool steady) noexcept;
    void frame_ended(int64_t end) noexcept;
    // Whether the open price of the last frame should be closed now (the renderer has had its time).
    bool price_due(int64_t now) const noexcept;
    void close_price(int64_t cpu) noexcept;

    // A frame that ended at `end` and cost `cost`: what frame_began, frame_ended and close_price
    // record together.
    void frame_painted(int64_t end, int64_t cost, bool steady) noexcept;

    int64_t frame_cost() const noexcept { return cost_; }
    // When the first and the last frame ended; 0 before the first.
    int64_t first_frame_end() const noexcept { return firstEnd_; }
    int64_t last_frame_end() const noexcept { return lastEnd_; }

private:
    void add_cost(int64_t cost) noexcept;

    int64_t firstEnd_ = 0;
    int64_t lastEnd_ = 0;
    int64_t cost_ = 0;
    bool pricing_ = false;
    int64_t priceBegin_ = 0;
    int64_t priceCpu_ = 0;
};

}  // namespace installer
