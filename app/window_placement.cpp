#include "app/window_placement.h"

#include <algorithm>

namespace installer {

WindowPlacement place_window(const RECT& workArea, UINT systemDpi) {
    const int areaWidth = workArea.right - workArea.left;
    const int areaHeight = workArea.bottom - workArea.top;
    const float byHeight = static_cast<float>(areaHeight - 32) / 570.0f;
    const float byWidth = static_cast<float>(areaWidth - 32) / 880.0f;
    const float scale = std::min(std::min(byHeight, byWidth), scale_for_dpi(systemDpi));
    const int height = static_cast<int>(scale * 570.0f);
    const int width = static_cast<int>(scale * 880.0f);
    return {scale, workArea.left + (areaWidth - width) / 2, workArea.top + (areaHeight - height) / 2,
            width, height};
}

}  // namespace installer
