#pragma once

#include <windows.h>

#include "render/area_scale.h"

namespace installer {

// The two pictures of the left panel, decoded and shrunk to the device pixels they are drawn at.
struct Pictures {
    float scale = 0.0f;
    PixelImage artwork;  // the card's centre crop, 302 x 458 logical pixels
    PixelImage logo;     // the whole logo, 105 x 72 logical pixels
};

// Decodes the embedded JPEG artwork (RCDATA 101) and PNG logo (RCDATA 102) of `instance` with WIC
// and scales each once, with area averaging, to its drawn size at `scale`. Runs on a helper thread
// while the window thread creates the render target: it enters a COM apartment of its own and uses
// its own imaging factory, so nothing it touches belongs to the window thread.
// Throws "Не удалось загрузить оформление установщика" (a picture is missing),
// "Не удалось загрузить изображение" or "Не удалось прочитать изображение".
Pictures prepare_pictures(HINSTANCE instance, float scale);

}  // namespace installer
