#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/install_state.h"
#include "render/part_id.h"
#include "render/ui_rect.h"

namespace installer {

// The window and its screens speak of the install states by their names.
using enum common::InstallState;

// What one frame shows, taken from the window at the moment it is painted. Drawing reads nothing
// else, so a frame cannot change what the window holds.
struct ScreenModel {
    int32_t state = 0;
    bool cancelling = false;
    // The animation values of the tick.
    float clock = 0.0f;
    float stateFade = 1.0f;
    float shownProgress = 0.0f;
    float hover = 0.0f;
    // The pointer in logical pixels; -1 when none has been seen.
    float mouseX = -1.0f;
    float mouseY = -1.0f;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    std::wstring installDir;
    std::wstring errorText;
    std::wstring versionText;
    // The host the package is downloaded from, named while it is.
    std::wstring siteHost;
    UiRect primaryButton{};
    UiRect secondaryButton{};
    UiRect changeButton{};
    UiRect closeButton{};
    // The change-folder button that a click would act on now, if the screen has a live one.
    std::optional<UiRect> changeRegion;
    // The button the keyboard has reached, and whether its ring is drawn: only once the keyboard has
    // been used, so that a mouse user's screens stay as they were.
    std::optional<PartId> focused;
    bool focusVisible = false;

    bool pointer_over(const UiRect& rect) const noexcept { return rect.contains(mouseX, mouseY); }
};

}  // namespace installer
