#pragma once

#include <windows.h>
#include <shtypes.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>

#include "app/accessibility.h"
#include "app/frame_key.h"
#include "app/frame_pacer.h"
#include "common/install_state.h"
#include "render/canvas.h"
#include "render/screen_model.h"
#include "render/screen_parts.h"
#include "render/ui_rect.h"

namespace installer {

// A second press of the start button within this time of the start is the rest of a double-click
// (or a bounce), not a request to cancel the install it has just started.
inline constexpr int64_t kStartSettleNanoseconds = 600'000'000;

// The installer's one window object. Everything here is touched on the window thread only, except
// the five atomics (state, stepProgress, cancelRequested, bytesDone, bytesTotal) that the install
// task writes through the pointers it is given. Members are destroyed in reverse declaration order,
// which releases the graphics objects first and drops the task handle (waiting for a still-running
// task) before the atomics and the folders it may still be using.
class Window {
public:
    explicit Window(HINSTANCE instance);
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() = default;

    // Input and timer commands.
    void click(float x, float y);
    void request_close();
    void tick();
    // One timer step at a given steady-clock time in nanoseconds: tick() with the clock made explicit.
    void tick_at(int64_t now);
    bool task_pending() const noexcept { return task.valid(); }
    // What the next frame would show, and whether the tick at `now` should ask for it.
    FrameKey frame_key() const;
    bool wants_frame(int64_t now) const;
    // Closes the price of the last frame once the renderer has had its time to finish it.
    void price_frames(int64_t now);
    // The change-folder region that is live on the current screen, if any.
    const UiRect* change_region() const noexcept;

    // Keyboard focus. Tab and Shift+Tab walk the screen's buttons in reading order; pressing a button
    // is a click at its centre, so every guard of click() holds for the keyboard and screen readers.
    void move_focus(bool backwards);
    // Focuses a button the screen shows (a screen reader's request); false if it shows none such.
    bool focus(PartId id);
    void press(PartId id);
    // Enter presses the focused button, or without one the screen's primary button.
    void press_enter();
    // A focused button that the screen no longer shows hands the focus to the screen's main button.
    void settle_focus();
    // What the current screen shows, for the keyboard and for screen readers.
    std::vector<ScreenPart> parts() const;

    // Fits the render target to the client area and the current scale.
    void resize();
    // Draws one complete frame of what screen_model() holds.
    void paint();
    // What a frame painted now would show.
    ScreenModel screen_model() const;

    // Set up by the window procedure and the entry point.
    HWND hwnd = nullptr;
    float scale = 1.0f;
    HINSTANCE instance;
    // The folders; installDir is replaced only by the change-folder command, and a running task
    // works on the copies it took at its start.
    std::filesystem::path installDir;
    // How installDir came to be, for the support log.
    const char* installDirOrigin = "the default folder";
    std::filesystem::path desktopDir;
    std::filesystem::path programsDir;
    // Written by the install task while it runs, by the window thread only when no task is pending.
    std::atomic<int32_t> state{Idle};
    std::atomic<float> stepProgress{0.0f};
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> bytesTotal{0};
    // The commands' state: the task, its outcome as shown, and the request to close once it ends.
    std::future<std::string> task;
    std::wstring errorText;
    std::wstring versionText;
    bool closeRequested = false;
    // The tick's animation state and the pointer.
    int32_t shownState = 0;
    float clock = 0.0f;
    float frameDelta = 0.0f;
    float shownProgress = 0.0f;
    float hover = 0.0f;
    float stateFade = 1.0f;
    float mouseX = -1.0f;
    float mouseY = -1.0f;
    // The focused button, and whether the keyboard has been used (the focus ring is drawn from then on).
    std::optional<PartId> focusedPart;
    bool keyboardCues = false;
    // Hit regions, shared by the clicks and the drawing.
    UiRect primaryButton{360, 446, 474, 54};
    UiRect secondaryButton{681, 446, 153, 54};
    UiRect changeButton{736, 316, 88, 36};
    UiRect closeButton{826, 20, 36, 36};
    // Steady-clock times in nanoseconds: construction, the previous tick, the last install start
    // (see kStartSettleNanoseconds).
    int64_t startTime;
    int64_t lastTick;
    int64_t installStartedAt = 0;
    // Graphics, window thread only: the factories, the device resources and the text formats.
    Canvas canvas;
    // What the last painted frame showed, and what frames cost.
    FrameKey paintedFrame;
    FramePacer pacer;
    // Loads the trusted root certificates once after the first frame, so that the first request
    // after the click does not wait for them.
    std::future<void> rootStoreWarmup;
    // What screen readers are given; declared last, so it lets go of the window before anything else.
    Accessibility accessibility{*this};

private:
    void start_install();
    void change_folder();
};

// The path of a known folder (SHGetKnownFolderPath, flags 0, no user token).
std::filesystem::path known_folder_path(const KNOWNFOLDERID& folder);

// Steady-clock time in nanoseconds, the clock of tick().
int64_t steady_now() noexcept;

}  // namespace installer
