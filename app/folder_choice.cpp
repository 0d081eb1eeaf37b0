#include "app/folder_choice.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "common/launcher_names.h"
#include "install/folder_rules.h"

namespace installer {
namespace {

// The component after the last separator that follows the root; empty for a drive root.
std::wstring final_component(const std::filesystem::path& path) {
    const std::wstring& text = path.native();
    const size_t rootLength = path.root_path().native().size();
    const size_t separator = text.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator < rootLength) {
        return text.substr(std::min(rootLength, text.size()));
    }
    return text.substr(separator + 1);
}

bool same_ignoring_case(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

std::filesystem::path install_dir_for_choice(const std::filesystem::path& chosen) {
    if (same_ignoring_case(final_component(chosen), common::kLauncherName) ||
        install::is_existing_installation(chosen)) {
        return chosen;
    }
    return chosen / common::kLauncherName;
}

}  // namespace installer
