#pragma once

#include <windows.h>

namespace installer {

// Where the window opens: as large as the work area less 32 pixels each way allows, never beyond
// the system DPI's size, centred in the work area.
struct WindowPlacement {
    float scale;
    int x;
    int y;
    int width;
    int height;
};

WindowPlacement place_window(const RECT& workArea, UINT systemDpi);

// Device pixels per logical pixel at a DPI (WM_DPICHANGED's HIWORD).
inline float scale_for_dpi(UINT dpi) {
    return static_cast<float>(dpi) / 96.0f;
}

}  // namespace installer
