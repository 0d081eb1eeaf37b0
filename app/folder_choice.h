#pragma once

#include <filesystem>

namespace installer {

// The install folder for a folder the user picked: the pick itself when it is already named
// "Korvane Launcher" (in any letter case) or already holds an installed launcher, otherwise a
// "Korvane Launcher" folder inside it.
std::filesystem::path install_dir_for_choice(const std::filesystem::path& chosen);

}  // namespace installer
