#pragma once

#include <filesystem>
#include <string>

namespace installer {

class Window;

// The install task's body, run on a pool thread. It works on copies of the three folders taken when
// the install starts (changing the window's folder never affects a running task) and touches the
// window only through its five atomics. Returns the installed version as UTF-8; every failure,
// cancellation included, leaves as an exception with a UTF-8 message.
struct InstallTaskBody {
    Window* window;
    std::filesystem::path installDir;
    std::filesystem::path desktopDir;
    std::filesystem::path programsDir;
    const char* installDirOrigin = "";

    std::string operator()() const;
};

// Starts the installed launcher (installDir's "KORLAUNCHER.exe", no arguments, shown) and lets its
// process handle go. Throws the launch's own messages.
void start_installed_launcher(const std::filesystem::path& executable);

}  // namespace installer
