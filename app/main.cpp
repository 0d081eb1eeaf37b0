#include <windows.h>

// The window, the install task and the screens arrive with the installer window; until then the
// program starts and ends cleanly so the build and the release pipeline can be exercised.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return 0;
}
