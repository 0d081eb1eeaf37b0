#include "app/frame_pacer.h"

namespace installer {

void FramePacer::frame_painted(int64_t end, int64_t cost, bool steady) noexcept {
    lastEnd_ = end;
    if (firstEnd_ == 0) {
        firstEnd_ = end;
    }
    if (!steady) {
        return;
    }
    if (cost_ == 0) {
        cost_ = cost;
        return;
    }
    // A quick rise and a slow fall: one expensive frame (the machine got busy) counts at once, a
    // single cheap one does not yet mean the machine is quiet again.
    cost_ = cost > cost_ ? (cost_ + cost) / 2 : (cost_ * 7 + cost) / 8;
}

bool FramePacer::allows(int64_t now, double share) const noexcept {
    return static_cast<double>(now - lastEnd_) * share >= static_cast<double>(cost_);
}

}  // namespace installer
