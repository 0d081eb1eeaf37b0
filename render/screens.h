#pragma once

#include "render/canvas.h"
#include "render/screen_model.h"

namespace installer {

// Draws and presents one complete frame of `model` on a prepared canvas.
void paint_screen(Canvas& canvas, const ScreenModel& model);

}  // namespace installer
