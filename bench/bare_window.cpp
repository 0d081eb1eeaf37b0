// The floor for "process start to first complete frame": a plain Win32 window of the installer's size
// and place that paints, with GDI, the pixels the benchmark's screen detector looks for (background,
// primary button, change button). Same process start-up, no Direct2D, no pictures, no text.
//   bare_window.exe        (closes on Esc, a click or WM_CLOSE)
#include <windows.h>

namespace {

constexpr wchar_t kTitle[] = L"Korvane bench bare window";

void fill(HDC dc, int x, int y, int width, int height, COLORREF colour) {
    const RECT rect{x, y, x + width, y + height};
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(dc, &rect, brush);
    ::DeleteObject(brush);
}

LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = ::BeginPaint(hwnd, &paint);
        fill(dc, 0, 0, 880, 570, RGB(0x10, 0x11, 0x14));
        fill(dc, 360, 446, 474, 54, RGB(0xFF, 0x71, 0x3B));
        fill(dc, 736, 316, 88, 36, RGB(0x26, 0x27, 0x2F));
        ::EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_LBUTTONUP:
        ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"KorvaneBenchBareWindow";
    if (::RegisterClassExW(&windowClass) == 0) {
        return 1;
    }
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const HWND hwnd = ::CreateWindowExW(WS_EX_APPWINDOW, windowClass.lpszClassName, kTitle, WS_POPUP | WS_SYSMENU,
                                        area.left + (area.right - area.left - 880) / 2,
                                        area.top + (area.bottom - area.top - 570) / 2, 880, 570, nullptr, nullptr,
                                        instance, nullptr);
    if (hwnd == nullptr) {
        return 1;
    }
    ::ShowWindow(hwnd, show);
    ::UpdateWindow(hwnd);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
