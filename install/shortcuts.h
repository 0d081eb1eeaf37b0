#pragma once

#include <filesystem>

namespace install {

// Writes "Korvane Launcher.lnk" (target installDir\KORLAUNCHER.exe) into the Desktop folder and
// into the Start-menu Programs folder, creating the folders when missing. An earlier shortcut of
// that name is replaced without the folder ever being left without one; any failure undoes what
// this call did in both folders. The calling thread must be in a COM apartment.
void create_launcher_shortcuts(const std::filesystem::path& installDir, const std::filesystem::path& desktopDir,
                               const std::filesystem::path& programsDir);

}  // namespace install
