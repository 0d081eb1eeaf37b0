#include "app/frame_key.h"

#include <cmath>

#include "render/animation.h"
#include "render/progress_screen.h"

namespace installer {
namespace {

bool is_progress_state(int32_t state) {
    return state != Idle && state != Done && state != Failed;
}

}  // namespace

FrameKey frame_key_of(const ScreenModel& model, float scale) {
    FrameKey key;
    const int32_t s = model.state;
    const float intro = intro_at(model.clock);
    const bool done = s == Done;
    key.scene.state = s;
    key.scene.cancelling = model.cancelling;
    key.animation.introLevel = visible_level(intro);
    key.animation.headingLevel = visible_level(heading_alpha(model.stateFade, intro));
    key.animation.hoverLevel = visible_level(model.hover);
    key.scene.closeHovered = model.pointer_over(model.closeButton);
    key.scene.primaryHovered = model.pointer_over(done ? kLaunchButton : model.primaryButton);
    key.scene.secondaryHovered = done && model.pointer_over(model.secondaryButton);
    key.scene.changeHovered = model.changeRegion && model.pointer_over(*model.changeRegion);
    key.scene.focusRing = model.focusVisible && model.focused ? static_cast<int>(*model.focused) : 0;
    key.scene.installDir = model.installDir;
    key.scene.errorText = model.errorText;
    key.scene.versionText = model.versionText;
    if (is_progress_state(s)) {
        const UiRect fill = progress_fill(s, model.clock, model.shownProgress);
        key.progress.sizeText = size_line(model.bytesDone, model.bytesTotal);
        key.progress.percentText = percent_text(model.shownProgress);
        key.progress.fillLeft = std::lround(fill.x * scale);
        key.progress.fillWidth = std::lround(fill.width * scale);
    }
    key.glowLevel = visible_level(glow_alpha(model.clock));
    return key;
}

}  // namespace installer
