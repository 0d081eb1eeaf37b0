#include <windows.h>

#include "app/dll_search.h"
#include "app/window_proc.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // First of all: the DLLs this program imports lazily must come from System32 only.
    if (!installer::restrict_dll_search()) {
        return 1;
    }
    return installer::run_installer(instance, showCommand);
}
