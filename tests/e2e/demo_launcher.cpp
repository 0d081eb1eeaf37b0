// KORLAUNCHER.exe of the demo release and of the end-to-end tests: a stand-in for the real launcher.
//
// Started normally it opens a small window that says it is the demo launcher, so a person running
// the demo sees which program the installer started.
//
// With KORVANE_E2E_CONTROL set to a folder (the tests set it for the installer, whose environment
// the launcher inherits) it opens no window and instead:
//   - appends its working folder and command line to "launched.txt" in that folder;
//   - when "hold" exists there, keeps running with its own executable open without write or delete
//     sharing (a running image is not replaceable under Wine either; the explicit handle keeps the
//     lock independent of how a platform treats mapped images), writes "holding", and waits for
//     "release" (at most two minutes) before it closes the file and exits.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/unique_handle.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kWindowClass[] = L"KorvaneDemoLauncher";
constexpr wchar_t kTitle[] = L"Korvane Launcher (демо)";
constexpr wchar_t kText[] =
    L"Это демонстрационный лаунчер Korvane.\n\n"
    L"Установщик скачал его с локального сайта релизов, проверил подпись и установил в папку:\n\n";
constexpr auto kHoldLimit = std::chrono::minutes(2);

using UniqueBrush = common::UniqueAny<HBRUSH, ::DeleteObject>;

std::wstring own_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void append_line(const fs::path& file, const std::wstring& text) {
    std::wofstream(file, std::ios::app) << text << L'\n';
}

int run_probe(const fs::path& control) {
    append_line(control / L"launched.txt", fs::current_path().wstring() + L"|" + GetCommandLineW());
    if (!fs::exists(control / L"hold")) {
        return 0;
    }
    const common::UniqueFileHandle self(CreateFileW(own_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!self) {
        append_line(control / L"hold-failed.txt", std::to_wstring(GetLastError()));
        return 1;
    }
    append_line(control / L"holding", L"holding");
    const auto deadline = std::chrono::steady_clock::now() + kHoldLimit;
    while (!fs::exists(control / L"release") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT area;
        GetClientRect(hwnd, &area);
        const UniqueBrush background(CreateSolidBrush(RGB(0x10, 0x11, 0x14)));
        FillRect(dc, &area, background.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0xF2, 0xF2, 0xF2));
        InflateRect(&area, -24, -24);
        const std::wstring text = kText + fs::current_path().wstring();
        DrawTextW(dc, text.c_str(), -1, &area, DT_WORDBREAK | DT_NOPREFIX);
        EndPaint(hwnd, &paint);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

int run_window(HINSTANCE instance, int showCommand) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = window_proc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass)) {
        return 1;
    }
    HWND hwnd = CreateWindowExW(0, kWindowClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 640, 300,
                                nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) {
        return 1;
    }
    ShowWindow(hwnd, showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    if (const wchar_t* control = _wgetenv(L"KORVANE_E2E_CONTROL"); control != nullptr && *control != L'\0') {
        return run_probe(control);
    }
    return run_window(instance, showCommand);
}
