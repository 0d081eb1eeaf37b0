#pragma once

#include <optional>
#include <string>
#include <vector>

#include "render/part_id.h"
#include "render/screen_model.h"
#include "render/ui_rect.h"

namespace installer {

enum class PartRole { Heading, Text, ProgressBar, Button };

struct ScreenPart {
    PartId id;
    PartRole role;
    std::wstring name;
    UiRect rect;
    // ProgressBar: the whole percent the bar shows.
    int value = 0;
};

// What a part is, whichever screen shows it.
PartRole role_of(PartId id);

// What the screen of `model` shows, in reading order (top to bottom, then left to right); exactly
// what is drawn, nothing hidden.
std::vector<ScreenPart> screen_parts(const ScreenModel& model);

// The buttons of `parts` in reading order, the order Tab walks.
std::vector<PartId> focus_order(const std::vector<ScreenPart>& parts);

// The part with `id`, if the screen shows it.
const ScreenPart* find_part(const std::vector<ScreenPart>& parts, PartId id);

// A drawn text as one line of speech: its line breaks become spaces.
std::wstring spoken(std::wstring text);

}  // namespace installer
