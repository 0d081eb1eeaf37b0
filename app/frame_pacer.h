#pragma once

#include <cstdint>

namespace installer {

// Spaces out the frames that are wanted but not urgent (the card's glow, progress on its way) by what
// frames actually cost here: where a frame takes a millisecond (a GPU) the glow stays smooth, where
// it takes a tenth of a second (a software renderer) it updates only as often as the share allows.
class FramePacer {
public:
    // One painted frame, when it ended and the steady-clock nanoseconds it took. The cost of a frame
    // that was not `steady` (it built the device objects) is left out: the others never cost that.
    void frame_painted(int64_t end, int64_t cost, bool steady) noexcept;

    // Whether a frame started at `now` would keep painting within `share` (0..1) of the window
    // thread's time, counted from the end of the last frame.
    bool allows(int64_t now, double share) const noexcept;

    int64_t frame_cost() const noexcept { return cost_; }
    // When the first frame ended; 0 before it.
    int64_t first_frame_end() const noexcept { return firstEnd_; }

private:
    int64_t firstEnd_ = 0;
    int64_t lastEnd_ = 0;
    int64_t cost_ = 0;
};

}  // namespace installer
