#pragma once

#include <windows.h>

#include <exception>

#include "app/window_placement.h"

namespace installer {

class Window;

inline constexpr wchar_t kWindowClass[] = L"KorvaneInstaller";

// The installer window's procedure; finds its Window through GWLP_USERDATA, set on WM_NCCREATE from
// the creation parameter. No exception leaves it: errors become a message box and a close request.
LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The class "KorvaneInstaller" with the icon of instance; throws "Не удалось создать окно установщика".
void register_window_class(HINSTANCE instance);

// The borderless pop-up window of the class, hidden, bound to window (its hwnd is set on creation),
// with the dark-mode and rounded-corner attributes. Throws "Не удалось создать окно установщика".
HWND create_main_window(Window& window, const WindowPlacement& placement);

// Shows the error's message in a message box over owner; painting waits while it is up.
void report_error(HWND owner, const std::exception& error);

// The whole program behind wWinMain; returns the process exit code.
int run_installer(HINSTANCE instance, int showCommand);

}  // namespace installer
