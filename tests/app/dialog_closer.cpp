#include "tests/app/dialog_closer.h"

#include <windows.h>

#include <string>

#include "tests/support/files.h"
#include "tests/support/unix_link.h"

namespace test {

DialogCloser::DialogCloser() {
    const std::string stop = unix_path_of(stopFile_);
    const std::string pressed = unix_path_of(pressedFile_);
    // A Linux program started from Wine does not inherit the Windows environment: the script names
    // the display itself. It ends when told to, or when its folder is gone.
    char display[64] = {};
    ::GetEnvironmentVariableA("DISPLAY", display, sizeof(display));
    write_file(script_, "export DISPLAY='" + std::string(display) +
                            "'\n"
                            "for i in $(seq 300); do\n"
                            "  [ -e '" +
                            stop +
                            "' ] && exit 0\n"
                            "  [ -e \"$0\" ] || exit 0\n"
                            "  w=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n1)\n"
                            "  [ -n \"$w\" ] && touch '" +
                            pressed +
                            "' && xdotool mousemove --window \"$w\" 60 60 key Escape\n"
                            "  sleep 0.1\n"
                            "done\n");
    run_unix_shell("sh '" + unix_path_of(script_) + "'");
}

bool DialogCloser::pressed() const {
    std::error_code ignored;
    return std::filesystem::exists(pressedFile_, ignored);
}

DialogCloser::~DialogCloser() {
    write_file(stopFile_, "stop");
}

}  // namespace test
