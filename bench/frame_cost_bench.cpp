// What one frame of the installer's window costs the machine: the real window, screens and pictures
// paint FRAMES frames of the start screen and of the download screen (its bar, byte count and
// percent moving every frame), one every PERIOD ms, and the process's CPU over the frames is set
// against the window thread's. Under Wine's Direct2D the renderer draws on threads of its own
// (wined3d's command thread, llvmpipe's), so the window thread's time is only a part of a frame.
// The same time without painting is measured first and taken off (the timer and the message loop).
//   frame_cost_bench.exe [FRAMES] [PERIOD_MS]        (defaults: 20, 100; needs a display)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "app/install_task.h"
#include "app/window.h"
#include "app/window_placement.h"
#include "app/window_proc.h"
#include "common/com_apartment.h"

namespace installer {

// The window's library asks for these; the bench never starts an install or a launcher.
std::string InstallTaskBody::operator()() const {
    return {};
}
void start_installed_launcher(const std::filesystem::path&) {}

}  // namespace installer

namespace {

double seconds_of(const FILETIME& time) {
    return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}

double process_cpu() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    return seconds_of(kernel) + seconds_of(user);
}

double thread_cpu() {
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    return seconds_of(kernel) + seconds_of(user);
}

// Lets the window's messages run for `milliseconds`, as the message loop would between frames.
void pump_for(DWORD milliseconds) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&message);
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) {
            return;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

struct Cost {
    double process;
    double thread;
    double wall;
};

// FRAMES frames, one every PERIOD ms, each after `change` has moved what the frame shows.
template <typename Change>
Cost frames(installer::Window& window, int count, DWORD period, Change change) {
    const double process = process_cpu();
    const double thread = thread_cpu();
    double wall = 0;
    for (int i = 0; i < count; ++i) {
        change(i);
        const int64_t begin = installer::steady_now();
        ::RedrawWindow(window.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        wall += static_cast<double>(installer::steady_now() - begin) / 1e9;
        pump_for(period);
    }
    return {(process_cpu() - process) / count, (thread_cpu() - thread) / count, wall / count};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int count = 20;
    DWORD period = 100;
    if (__argc > 1) {
        count = _wtoi(__wargv[1]);
    }
    if (__argc > 2) {
        period = static_cast<DWORD>(_wtoi(__wargv[2]));
    }
    ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const common::ComApartment apartment;
    installer::Window window(instance);
    installer::register_window_class(instance);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const installer::WindowPlacement placement = installer::place_window(workArea, ::GetDpiForSystem());
    window.scale = placement.scale;
    const HWND hwnd = installer::create_main_window(window, placement);
    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    // Past the intro; the first frames build the device objects and are not counted.
    window.startTime -= 5'000'000'000;
    window.tick();
    for (int i = 0; i < 3; ++i) {
        ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        pump_for(200);
    }
    const Cost still = frames(window, count, period, [](int) {});
    const double quietProcess = process_cpu();
    const double quietThread = thread_cpu();
    pump_for(period * count);
    const Cost quiet{(process_cpu() - quietProcess) / count, (thread_cpu() - quietThread) / count, 0};
    window.state = installer::Downloading;
    window.bytesTotal = 16u << 20;
    const Cost progress = frames(window, count, period, [&](int i) {
        window.bytesDone = static_cast<uint64_t>(i + 1) * ((16u << 20) / static_cast<unsigned>(count));
        window.shownProgress = 0.06f + 0.74f * static_cast<float>(i + 1) / static_cast<float>(count);
    });
    std::printf("period %lu ms, %d frames each; per period without a frame: process %.1f ms, window thread %.1f ms\n",
                period, count, 1000 * quiet.process, 1000 * quiet.thread);
    for (const auto& [name, cost] : {std::pair{"start screen", still}, std::pair{"download screen", progress}}) {
        std::printf(
            "%s: per frame process %.1f ms (window thread %.1f ms, other threads %.1f ms), paint wall %.1f ms\n", name,
            1000 * (cost.process - quiet.process), 1000 * (cost.thread - quiet.thread),
            1000 * ((cost.process - quiet.process) - (cost.thread - quiet.thread)), 1000 * cost.wall);
    }
    // What the window's own pacing measured (its smoothed price of a frame).
    std::printf("the window's own price of a frame: %.1f ms\n", static_cast<double>(window.pacer.frame_cost()) / 1e6);
    std::fflush(stdout);
    ::DestroyWindow(hwnd);
    return 0;
}
