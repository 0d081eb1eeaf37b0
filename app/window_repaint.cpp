#include "app/window.h"
#include "common/marked_threads.h"

// Which ticks ask for a frame. Under Wine a frame costs about a tenth of a second of CPU whatever it
// shows, most of it on the renderer's own threads, so a window that repainted at every 16 ms tick
// kept both cores busy while the player only looked at it, and took that time from the install.

namespace installer {
namespace {

// Under Wine the first frames can be painted before the X server has mapped the window; they are
// lost, and nothing asks for them again. Every tick of the start screen paints for this long after
// the first frame; a player who has started an install has seen the window, and the install needs
// the cores.
constexpr int64_t kSettleTime = 1'500'000'000;

bool is_progress_state(int32_t state) {
    return state != Idle && state != Done && state != Failed;
}

}  // namespace

FrameKey Window::frame_key() const {
    return frame_key_of(screen_model(), scale);
}

void Window::price_frames(int64_t now) {
    if (pacer.price_due(now)) {
        pacer.close_price(common::cpu_outside_marked_threads());
    }
}

bool Window::wants_frame(int64_t now) const {
    // A minimised or hidden window shows nothing; the system asks for a paint when it reappears.
    if (hwnd == nullptr || !::IsWindowVisible(hwnd) || ::IsIconic(hwnd)) {
        return false;
    }
    if (pacer.first_frame_end() == 0 || (state.load() == Idle && now - pacer.first_frame_end() < kSettleTime)) {
        return true;
    }
    const FrameKey key = frame_key();
    FrameChange change;
    change.scene = key.scene != paintedFrame.scene;
    change.animation = key.animation != paintedFrame.animation;
    change.progress = key.progress != paintedFrame.progress;
    change.glow = key.glowLevel != paintedFrame.glowLevel;
    return frame_due(change, now - pacer.last_frame_end(), pacer.frame_cost(), is_progress_state(key.scene.state));
}

}  // namespace installer
