#include "app/window_proc.h"

#include <dwmapi.h>
#include <windowsx.h>

#include <exception>
#include <optional>
#include <stdexcept>

#include "app/message_text.h"
#include "app/root_store_warmup.h"
#include "app/window.h"
#include "app/window_placement.h"
#include "common/com_apartment.h"

namespace installer {
namespace {

constexpr wchar_t kTitle[] = L"Установка Korvane Launcher";
constexpr char kNoWindow[] = "Не удалось создать окно установщика";
constexpr float kDragBand = 74.0f;
constexpr DWORD kDarkModeAttribute = 20;    // DWMWA_USE_IMMERSIVE_DARK_MODE
constexpr DWORD kCornerAttribute = 33;      // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr DWORD kRoundCorners = 2;          // DWMWCP_ROUND
constexpr LPARAM kKeyWasDown = 0x40000000;  // WM_KEYDOWN: the key was already down (auto-repeat)

// The message box of an error runs its own message loop, in which the timer keeps ticking and
// painting. A fault that repeats on every frame would otherwise stack one box on another; while a
// box is up, further errors are not reported again and painting waits.
bool reportingError = false;

void paint_window(Window& window) {
    PAINTSTRUCT paint{};
    ::BeginPaint(window.hwnd, &paint);
    try {
        if (!reportingError) {
            window.paint();
        }
    } catch (...) {
        ::EndPaint(window.hwnd, &paint);
        throw;
    }
    ::EndPaint(window.hwnd, &paint);
    if (!window.rootStoreWarmup.valid()) {
        window.rootStoreWarmup = warm_root_store();
    }
}

LRESULT hit_test(Window& window, LPARAM lParam) {
    POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ::ScreenToClient(window.hwnd, &point);
    const float x = static_cast<float>(point.x) / window.scale;
    const float y = static_cast<float>(point.y) / window.scale;
    if (y >= kDragBand || window.closeButton.contains(x, y)) {
        return HTCLIENT;
    }
    return HTCAPTION;
}

void mouse_move(Window& window, LPARAM lParam) {
    window.mouseX = static_cast<float>(GET_X_LPARAM(lParam)) / window.scale;
    window.mouseY = static_cast<float>(GET_Y_LPARAM(lParam)) / window.scale;
    const float x = window.mouseX;
    const float y = window.mouseY;
    // The hand marks only what a click would act on: on the Done screen the primary action is the
    // narrower launch button, and the change-folder region (over the closing text) is inactive.
    const bool done = window.state.load() == Done;
    const UiRect& primary = done ? kLaunchButton : window.primaryButton;
    const UiRect* change = window.change_region();
    const bool pointing = primary.contains(x, y) || window.closeButton.contains(x, y) ||
                          (change != nullptr && change->contains(x, y)) ||
                          (done && window.secondaryButton.contains(x, y));
    ::SetCursor(::LoadCursorW(nullptr, pointing ? IDC_HAND : IDC_ARROW));
}

void key_down(Window& window, WPARAM key, LPARAM lParam) {
    // Auto-repeat of a held Enter or Space is no new press: it would cancel the install it started.
    const bool repeat = (lParam & kKeyWasDown) != 0;
    switch (key) {
    case VK_ESCAPE:
        window.request_close();
        break;
    case VK_TAB:
        if (::GetKeyState(VK_CONTROL) >= 0 && ::GetKeyState(VK_MENU) >= 0) {
            window.move_focus(::GetKeyState(VK_SHIFT) < 0);
        }
        break;
    case VK_RETURN:
        if (!repeat) {
            window.press_enter();
        }
        break;
    case VK_SPACE:
        if (!repeat && window.focusedPart) {
            window.press(*window.focusedPart);
        }
        break;
    default:
        break;
    }
}

LRESULT handle(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        window.accessibility.window_destroyed();
        ::PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        window.resize();
        return 0;
    case WM_PAINT:
        paint_window(window);
        return 0;
    case WM_CLOSE:
        window.request_close();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_NCCALCSIZE:
        return 0;
    case WM_NCHITTEST:
        return hit_test(window, lParam);
    case WM_KEYDOWN:
        key_down(window, wParam, lParam);
        return 0;
    case kPressMessage:
        window.press(static_cast<PartId>(wParam));
        return 0;
    case kAccessCallMessage:
        return run_access_call(lParam);
    case WM_GETOBJECT:
        if (const std::optional<LRESULT> answer = window.accessibility.answer(wParam, lParam)) {
            return *answer;
        }
        return ::DefWindowProcW(window.hwnd, message, wParam, lParam);
    case WM_TIMER:
        window.tick();
        return 0;
    case WM_MOUSEMOVE:
        mouse_move(window, lParam);
        return 0;
    case WM_LBUTTONUP:
        window.click(static_cast<float>(GET_X_LPARAM(lParam)) / window.scale,
                     static_cast<float>(GET_Y_LPARAM(lParam)) / window.scale);
        return 0;
    case WM_DPICHANGED: {
        window.scale = scale_for_dpi(HIWORD(wParam));
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window.hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        window.resize();
        return 0;
    }
    default:
        return ::DefWindowProcW(window.hwnd, message, wParam, lParam);
    }
}

// Steps that only need the COM apartment: the window object, the class, the window and the loop.
int run_window(HINSTANCE instance, int showCommand, std::optional<Window>& window) {
    window.emplace(instance);
    register_window_class(instance);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const WindowPlacement placement = place_window(workArea, ::GetDpiForSystem());
    window->scale = placement.scale;
    const HWND hwnd = create_main_window(*window, placement);
    ::SetTimer(hwnd, 1, 16, nullptr);
    ::ShowWindow(hwnd, showCommand);
    ::UpdateWindow(hwnd);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

void report_error(HWND owner, const std::exception& error) {
    reportingError = true;
    ::MessageBoxW(owner, message_text(error).c_str(), kTitle, MB_ICONERROR);
    reportingError = false;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        window = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    if (window == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        return handle(*window, message, wParam, lParam);
    } catch (const std::exception& error) {
        if (!reportingError) {
            report_error(hwnd, error);
        }
        window->request_close();
        return 0;
    } catch (...) {
        // Nothing may unwind into the system's frames; without a message there is nothing to show.
        window->request_close();
        return 0;
    }
}

void register_window_class(HINSTANCE instance) {
    const HICON icon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = window_proc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    windowClass.hIconSm = icon;
    if (::RegisterClassExW(&windowClass) == 0) {
        throw std::runtime_error(kNoWindow);
    }
}

HWND create_main_window(Window& window, const WindowPlacement& placement) {
    const HWND hwnd =
        ::CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, kTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, placement.x,
                          placement.y, placement.width, placement.height, nullptr, nullptr, window.instance, &window);
    if (hwnd == nullptr) {
        throw std::runtime_error(kNoWindow);
    }
    const BOOL dark = TRUE;
    ::DwmSetWindowAttribute(hwnd, kDarkModeAttribute, &dark, sizeof(dark));
    const DWORD corners = kRoundCorners;
    ::DwmSetWindowAttribute(hwnd, kCornerAttribute, &corners, sizeof(corners));
    return hwnd;
}

int run_installer(HINSTANCE instance, int showCommand) {
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // Declared before the window object: COM is left only after the object has been destroyed.
    const common::ComApartment apartment;
    if (!apartment.succeeded()) {
        return 1;
    }
    std::optional<Window> window;
    int exitCode = 0;
    try {
        exitCode = run_window(instance, showCommand, window);
        window.reset();
    } catch (const std::exception& error) {
        // A window that still exists must not reach the object about to be destroyed.
        if (window && window->hwnd != nullptr && ::IsWindow(window->hwnd)) {
            ::SetWindowLongPtrW(window->hwnd, GWLP_USERDATA, 0);
            ::DestroyWindow(window->hwnd);
        }
        window.reset();
        ::MessageBoxW(nullptr, message_text(error).c_str(), kTitle, MB_ICONERROR);
        exitCode = 1;
    }
    return exitCode;
}

}  // namespace installer
