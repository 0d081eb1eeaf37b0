#pragma once

#include <windows.h>

#include <filesystem>

namespace install {

// Shows the system's file dialog modally over owner, in folder mode or in executable-file mode, and
// returns the chosen file-system path, or an empty path when the user cancelled. Call it on a thread
// with an initialised COM apartment.
std::filesystem::path pick_path(HWND owner, bool pickFile);

}  // namespace install
