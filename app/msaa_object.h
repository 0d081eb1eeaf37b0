#pragma once

#include <oleacc.h>

#include <memory>

#include "app/accessibility.h"
#include "common/com_ptr.h"

namespace installer {

// The window's client area as an MSAA object for readers that speak only MSAA: the screen's parts
// are its simple children (child ids 1..n in reading order), with the same names as the UI
// Automation tree, roles, states and, for buttons, the default action "Нажать".
common::ComPtr<IAccessible> make_msaa_object(std::shared_ptr<AccessLink> link);

}  // namespace installer
