#include "app/window_placement.h"

#include <algorithm>

#include "render/ui_rect.h"

namespace installer {

WindowPlacement place_window(const RECT& workArea, UINT systemDpi) {
    const int areaWidth = workArea.right - workArea.left;
    const int areaHeight = workArea.bottom - workArea.top;
    const float byHeight = static_cast<float>(areaHeight - 32) / kCanvasHeight;
    const float byWidth = static_cast<float>(areaWidth - 32) / kCanvasWidth;
    const float scale = std::min(std::min(byHeight, byWidth), scale_for_dpi(systemDpi));
    const int height = static_cast<int>(scale * kCanvasHeight);
    const int width = static_cast<int>(scale * kCanvasWidth);
    return {scale, workArea.left + (areaWidth - width) / 2, workArea.top + (areaHeight - height) / 2, width, height};
}

}  // namespace installer
