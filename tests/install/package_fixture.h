#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_handle.h"

namespace test {

// A folder's content: relative path in UTF-8 with forward slashes -> the file's bytes. A folder is
// the key with a trailing slash and an empty value, so created and removed folders show too.
using Tree = std::map<std::string, std::string>;

// A launcher installation of the older release, with two files of the user's own that no package
// contains.
Tree old_installation(size_t fileSize = 700);
// The newer package: every file of the older release changed, plus new files in new folders.
Tree new_package(size_t fileSize = 900);

// Adds the key of every folder that holds a file of the tree.
Tree with_folders(Tree tree);
// `base` with every file of `overlay` written over it (what an update should leave behind).
Tree overlaid(Tree base, const Tree& overlay);
// The tree without top-level ".korvane-install-" staging folders and what they hold.
Tree without_staging_folders(const Tree& tree);
// Names of the top-level ".korvane-install-" folders.
std::vector<std::string> staging_folders(const Tree& tree);

void write_tree(const std::filesystem::path& folder, const Tree& tree);
// Walks without following links.
Tree read_tree(const std::filesystem::path& folder);

// The order in which the placement moves the package's files: walk order, launcher executable last.
std::vector<std::filesystem::path> placement_order(const std::filesystem::path& payload);

// Opens an existing file the way another program holding it would: `share` 0 for no sharing at
// all, FILE_SHARE_READ for a reader that lets others read but not replace it.
common::UniqueFileHandle hold_open(const std::filesystem::path& file, unsigned long share);

}  // namespace test
