#pragma once

#include <atomic>
#include <filesystem>

#include "release/package_rules.h"

namespace release {

// Checks every entry of the update ZIP against the package layout before anything is inflated or
// written, then writes the package's files below `output`, which must not exist yet. Once `cancel`
// (may be null) is set, the inflation stops within one chunk with "Установка отменена"; what was
// written stays for the caller's staging folder to take away.
void extract_update_package(const std::filesystem::path& archive, const std::filesystem::path& output,
                            const std::atomic<bool>* cancel = nullptr);

// The path rule on a relative name below "KORLAUNCHER/" (a backslash counts as '/').
bool is_allowed_package_path(const std::filesystem::path& relative);

// Throws "Папка обновления содержит ссылку" when an existing prefix of the folder's absolute path
// is a reparse point (junction, symbolic link, mount point).
void ensure_no_reparse_points(const std::filesystem::path& folder);

}  // namespace release
