#pragma once

#include <objbase.h>

#include "common/unique_handle.h"

namespace common {

// Text that a shell or COM call hands out to be freed with CoTaskMemFree (known-folder paths,
// display names of shell items).
struct CoTaskMemStringTraits {
    using type = PWSTR;
    static type invalid() noexcept { return nullptr; }
    static void close(type memory) noexcept { ::CoTaskMemFree(memory); }
};

using UniqueCoTaskMemString = UniqueHandle<CoTaskMemStringTraits>;

}  // namespace common
