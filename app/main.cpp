#include <windows.h>

#include "app/window_proc.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return installer::run_installer(instance, showCommand);
}
