#include "app/window.h"

// Which ticks ask for a frame. Under Wine every frame costs about a tenth of a second of CPU
// whatever it shows, so a window that repainted at every 16 ms tick kept both cores busy while
// the player only looked at it, and took that time from the install.

namespace installer {
namespace {

// The idle glow may take at most this share of the window thread: one frame in a hundred frame
// costs (a frame every few seconds under a software renderer, a smooth pulse on a GPU).
constexpr double kIdleShare = 0.01;
// The heading's fade after a change of step: a third of the window thread. An install changes step
// five times and each fade lasts a quarter of a second, so painting every level of it under a
// software renderer kept a core busy for most of the install; on a GPU the fade stays smooth.
constexpr double kFadeShare = 0.35;
// Progress that moves without a change of step: enough for the bar and the byte count to follow
// the download, little enough to leave the install its cores.
constexpr double kProgressShare = 0.10;
// Under Wine the first frames can be painted before the X server has mapped the window; they are
// lost, and nothing asks for them again. Every tick of the start screen paints for this long after
// the first frame; a player who has started an install has seen the window, and the install needs
// the cores.
constexpr int64_t kSettleTime = 1'500'000'000;

}  // namespace

FrameKey Window::frame_key() const {
    return frame_key_of(screen_model(), scale);
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
    if (key.scene != paintedFrame.scene) {
        return true;
    }
    if (key.headingLevel != paintedFrame.headingLevel && pacer.allows(now, kFadeShare)) {
        return true;
    }
    if (key.progress != paintedFrame.progress) {
        return pacer.allows(now, kProgressShare);
    }
    return key.glowLevel != paintedFrame.glowLevel && pacer.allows(now, kIdleShare);
}

}  // namespace installer
