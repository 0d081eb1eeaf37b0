#pragma once

// The geometry of the 880 x 570 logical canvas that drawing and hit testing share, apart from the
// window: what a screen's parts need without the whole window object.
namespace installer {

// The canvas in logical pixels; a window at scale s is s times as many device pixels.
inline constexpr float kCanvasWidth = 880.0f;
inline constexpr float kCanvasHeight = 570.0f;

// A rectangle of the 880 x 570 logical canvas. Every hit test of the program uses contains().
struct UiRect {
    float x;
    float y;
    float width;
    float height;

    bool contains(float px, float py) const noexcept { return px >= x && py >= y && px < x + width && py < y + height; }
};

// The Done screen's launch button is narrower than primaryButton so that "Закрыть" fits beside it.
inline constexpr UiRect kLaunchButton{360, 446, 304, 54};
// The error screen's own change-folder button, drawn between the message and "Повторить": the start
// screen's button would lie over the message there.
inline constexpr UiRect kFailedChangeButton{360, 410, 170, 28};

}  // namespace installer
