#pragma once

#include <cstdint>
#include <string>

#include "render/screen_model.h"

namespace installer {

// What one frame of the window shows, reduced to values that change only when a pixel would. Two
// equal keys draw the same picture, so a tick that finds the key of the last painted frame
// unchanged need not paint.
struct FrameKey {
    // Shown at once: the screen, its texts and flags, and what the mouse is over.
    struct Scene {
        int32_t state = -1;
        bool cancelling = false;
        bool closeHovered = false;
        bool primaryHovered = false;
        bool secondaryHovered = false;
        bool changeHovered = false;
        // The button whose focus ring is drawn, 0 for none.
        int focusRing = 0;
        std::wstring installDir;
        std::wstring errorText;
        std::wstring versionText;
        bool operator==(const Scene&) const = default;
    };
    // The progress screen's moving parts, in device pixels and shown texts.
    struct Progress {
        std::wstring sizeText;
        std::wstring percentText;
        long fillLeft = 0;
        long fillWidth = 0;
        bool operator==(const Progress&) const = default;
    };

    // The short animations: the intro, the hover lift and the heading's fade after each step.
    struct Animation {
        int introLevel = 0;
        int hoverLevel = 0;
        int headingLevel = 0;
        bool operator==(const Animation&) const = default;
    };

    Scene scene;
    Animation animation;
    Progress progress;
    int glowLevel = 0;
};

// The key of the frame that `model` draws on a window at `scale`.
FrameKey frame_key_of(const ScreenModel& model, float scale);

}  // namespace installer
