// The floor for "process start to first complete frame": a plain Win32 window of the installer's size
// and place that paints the pixels the benchmark's screen detector looks for (background, primary
// button, change button). Same process start-up, no pictures, no text. With GDI by default; with
// "direct2d", through a Direct2D window render target as the installer draws, which shows what
// Direct2D's own start-up costs on this machine.
//   bare_window.exe [direct2d]        (closes on Esc, a click or WM_CLOSE)
#include <windows.h>
#include <d2d1.h>

#include "common/com_ptr.h"

namespace {

constexpr wchar_t kTitle[] = L"Korvane bench bare window";

struct Fill {
    int x, y, width, height;
    COLORREF colour;
};
constexpr Fill kFills[] = {{0, 0, 880, 570, RGB(0x10, 0x11, 0x14)},
                           {360, 446, 474, 54, RGB(0xFF, 0x71, 0x3B)},
                           {736, 316, 88, 36, RGB(0x26, 0x27, 0x2F)}};

// Made by the first Direct2D paint; released when wWinMain returns, as the installer releases its own
// after its message loop.
struct Direct2dObjects {
    common::ComPtr<ID2D1Factory> factory;
    common::ComPtr<ID2D1HwndRenderTarget> target;
};

bool useDirect2d = false;
Direct2dObjects* direct2d = nullptr;

void paint_gdi(HDC dc) {
    for (const Fill& fill : kFills) {
        const RECT rect{fill.x, fill.y, fill.x + fill.width, fill.y + fill.height};
        HBRUSH brush = ::CreateSolidBrush(fill.colour);
        ::FillRect(dc, &rect, brush);
        ::DeleteObject(brush);
    }
}

D2D1_COLOR_F colour_of(COLORREF colour) {
    return D2D1::ColorF(GetRValue(colour) / 255.0f, GetGValue(colour) / 255.0f, GetBValue(colour) / 255.0f);
}

void paint_direct2d(HWND hwnd, Direct2dObjects& objects) {
    if (!objects.factory && FAILED(::D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory),
                                                       nullptr, objects.factory.put_void()))) {
        return;
    }
    if (!objects.target && FAILED(objects.factory->CreateHwndRenderTarget(
                               D2D1::RenderTargetProperties(),
                               D2D1::HwndRenderTargetProperties(hwnd, D2D1::SizeU(880, 570)), objects.target.put()))) {
        return;
    }
    ID2D1HwndRenderTarget* target = objects.target.get();
    target->BeginDraw();
    for (const Fill& fill : kFills) {
        common::ComPtr<ID2D1SolidColorBrush> brush;
        if (SUCCEEDED(target->CreateSolidColorBrush(colour_of(fill.colour), brush.put()))) {
            target->FillRectangle(
                D2D1::RectF(static_cast<float>(fill.x), static_cast<float>(fill.y),
                            static_cast<float>(fill.x + fill.width), static_cast<float>(fill.y + fill.height)),
                brush.get());
        }
    }
    target->EndDraw();
}

LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        HDC dc = ::BeginPaint(hwnd, &paint);
        if (useDirect2d) {
            paint_direct2d(hwnd, *direct2d);
        } else {
            paint_gdi(dc);
        }
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

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
    useDirect2d = ::lstrcmpiW(commandLine, L"direct2d") == 0;
    Direct2dObjects objects;
    direct2d = &objects;
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
    const HWND hwnd =
        ::CreateWindowExW(WS_EX_APPWINDOW, windowClass.lpszClassName, kTitle, WS_POPUP | WS_SYSMENU,
                          area.left + (area.right - area.left - 880) / 2, area.top + (area.bottom - area.top - 570) / 2,
                          880, 570, nullptr, nullptr, instance, nullptr);
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
