#pragma once

#include <algorithm>
#include <cmath>

// The animated values a frame is drawn with, shared by the drawing and by the window's decision
// whether a new frame would look any different.
namespace installer {

// An ease-out over the first 0.6 s after start: the logo, the tagline and the headings fade in.
inline float intro_at(float clock) {
    return 1.0f - static_cast<float>(std::pow(1.0f - std::min(clock / 0.6f, 1.0f), 3.0f));
}

// Every heading fades from 0.35 to 1 after a state change, never ahead of the intro.
inline float heading_alpha(float stateFade, float intro) {
    return std::min(stateFade * 0.65f + 0.35f, intro);
}

// The card's slowly pulsing accent glow; it never settles.
inline float glow_alpha(float clock) {
    return 0.12f + 0.025f * std::sin(0.8f * clock);
}

// An alpha or a 0..1 animation value as one of the 256 levels a pixel can tell apart.
inline int visible_level(float value) {
    return static_cast<int>(std::lround(value * 255.0f));
}

}  // namespace installer
