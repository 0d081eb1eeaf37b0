#pragma once

#include <objbase.h>

#include "common/unique_handle.h"

namespace common {

// Text that a shell or COM call hands out to be freed with CoTaskMemFree (known-folder paths,
// display names of shell items).
using UniqueCoTaskMemString = UniqueAny<PWSTR, ::CoTaskMemFree>;

}  // namespace common
