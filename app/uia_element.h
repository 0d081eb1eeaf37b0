#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "app/accessibility.h"
#include "app/uia_platform.h"
#include "common/com_ptr.h"
#include "render/part_id.h"

namespace installer {

// A UI Automation provider of the window: the fragment root (no part) or the fragment of one part
// of the screen. What it says is looked up in the window's current parts at each call, so a part
// that the screen no longer shows answers UIA_E_ELEMENTNOTAVAILABLE.
common::ComPtr<IRawElementProviderSimple> make_uia_element(std::shared_ptr<AccessLink> link,
                                                           std::optional<PartId> part);

// The UI Automation names of the screen's parts (AutomationId), stable across screens and languages.
const wchar_t* automation_id(PartId id);

}  // namespace installer
